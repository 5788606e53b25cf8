#include "kvhttp/net/detail/ChunkedDecoder.h"

#include <gtest/gtest.h>

#include "kvhttp/net/Error.h"

namespace kvhttp::detail {
namespace {

// Feeds `wire` split into pieces of `step` bytes, reading into a buffer of `capacity`.
struct Outcome {
  std::string body;
  boost::system::error_code ec;
  bool done = false;
  std::size_t left_over = 0;  // input bytes not consumed at the end
};

Outcome Decode(const std::string& wire, std::size_t step, std::size_t capacity) {
  ChunkedDecoder d;
  Outcome out;
  std::string pending;
  std::size_t fed = 0;
  std::string buffer(capacity, '\0');
  while (!d.done()) {
    if (pending.empty()) {
      if (fed >= wire.size()) break;
      pending = wire.substr(fed, step);
      fed += pending.size();
    }
    std::size_t consumed = 0, produced = 0;
    d.decode(pending.data(), pending.size(), buffer.data(), buffer.size(), consumed, produced,
             out.ec);
    out.body.append(buffer.data(), produced);
    pending.erase(0, consumed);
    if (out.ec) break;
  }
  out.done = d.done();
  out.left_over = pending.size() + (wire.size() - fed);
  return out;
}

TEST(ChunkedDecoderTest, DecodesAtEverySplitWithExtensionsAndTrailers) {
  const std::string wire =
      "5;name=value\r\nhello\r\n1A\r\nabcdefghijklmnopqrstuvwxyz\r\n0\r\nX-Sum: 1\r\n\r\nNEXT";
  for (std::size_t step = 1; step <= wire.size(); ++step) {
    for (std::size_t capacity : {1u, 3u, 64u}) {
      const Outcome o = Decode(wire, step, capacity);
      ASSERT_FALSE(o.ec) << step;
      EXPECT_TRUE(o.done);
      EXPECT_EQ(o.body, "helloabcdefghijklmnopqrstuvwxyz");
      EXPECT_EQ(o.left_over, 4u) << "the next message must stay unread, step " << step;
    }
  }
}

TEST(ChunkedDecoderTest, BadFramingIsAnError) {
  const char* bad[] = {
      "5\r\nhelloXY0\r\n\r\n",   // no CR LF after the data
      "zz\r\nhello\r\n",         // no hexadecimal size
      "5\nhello\r\n0\r\n\r\n",   // bare LF
      "ffffffffffffffffff\r\n",  // size overflows
  };
  for (const char* wire : bad) {
    const Outcome o = Decode(wire, 3, 16);
    EXPECT_EQ(o.ec, make_error_code(errc::invalid_chunked_encoding)) << wire;
    EXPECT_FALSE(o.done);
  }
  // Data before the fault is still delivered.
  EXPECT_EQ(Decode("5\r\nhelloXY", 100, 16).body, "hello");
  // An endless size line is refused rather than buffered.
  EXPECT_TRUE(Decode("1" + std::string(10000, '0'), 512, 16).ec);
}

TEST(ChunkedDecoderTest, UnfinishedBodyIsNotDone) {
  const Outcome o = Decode("5\r\nhello\r\n", 4, 16);
  EXPECT_FALSE(o.ec);
  EXPECT_FALSE(o.done);
  EXPECT_EQ(o.body, "hello");
}

}  // namespace
}  // namespace kvhttp::detail
