#include "kvhttp/net/detail/ResponseHead.h"

#include <gtest/gtest.h>

namespace kvhttp::detail {
namespace {

TEST(ResponseHeadTest, StatusLines) {
  StatusLine s;
  ASSERT_TRUE(ParseStatusLine("HTTP/1.1 206 Partial Content", s));
  EXPECT_EQ(s.major, 1);
  EXPECT_EQ(s.minor, 1);
  EXPECT_EQ(s.status, 206);
  EXPECT_EQ(s.reason, "Partial Content");
  EXPECT_TRUE(ParseStatusLine("HTTP/1.0 200 ", s));
  for (const char* bad : {"HTTP/1.1 200", "HTTP/1.1  200 OK", "HTTP/1.1 20 OK", "HTTP/1.1 2000 OK",
                          "HTTP/11 200 OK", "HTTP/1.1 200 O\x01K", "ICY 200 OK", "http/1.1 200 OK"})
    EXPECT_FALSE(ParseStatusLine(bad, s)) << bad;
}

TEST(ResponseHeadTest, HeaderLinesWithContinuationsAndBadCharacters) {
  RequestOptions h;
  ASSERT_TRUE(ParseHeaderLines("A:  1 \r\nX-Long: first\r\n \t second\r\nEmpty:\r\n", h));
  ASSERT_EQ(h.size(), 3u);
  EXPECT_EQ(h.find("a"), "1");
  EXPECT_EQ(h.find("x-long"), "first second");
  EXPECT_EQ(h.find("Empty"), "");
  for (const char* bad : {"No colon\r\n", " leading: continuation\r\n", "Bad\x80Name: v\r\n",
                          "Sp ace: v\r\n", "A: v\x01\r\n", ": empty name\r\n", "A: no end"}) {
    RequestOptions o;
    EXPECT_FALSE(ParseHeaderLines(bad, o)) << bad;
  }
}

TEST(ResponseHeadTest, FactsFromHeaders) {
  RequestOptions h;
  h.insert("content-length", "100");
  h.insert("Content-Range", "bytes 0-99/5000");
  h.insert("Transfer-Encoding", "Chunked");
  h.insert("Connection", "Close");
  HeadFacts f = ExtractHeadFacts(h);
  EXPECT_EQ(f.content_length, 5000);
  EXPECT_EQ(f.message_length, 100);
  EXPECT_FALSE(f.chunked) << "only the exact lower-case value is chunked";
  EXPECT_TRUE(f.connection_close);

  RequestOptions g;
  g.insert("Content-Length", "12abc");
  g.insert("Transfer-Encoding", "chunked");
  f = ExtractHeadFacts(g);
  EXPECT_EQ(f.content_length, -1);
  EXPECT_TRUE(f.chunked);
}

TEST(ResponseHeadTest, RelativeLocations) {
  boost::system::error_code ec;
  const ParsedUrl base = ParseUrl("http://h:81/dir/a.bin?x=/y/z", ec);
  EXPECT_EQ(AbsoluteLocation(base, "b.bin"), "http://h:81/dir/b.bin");
  EXPECT_EQ(AbsoluteLocation(base, "/x"), "http://h:81/dir//x");
  EXPECT_EQ(AbsoluteLocation(base, "https://o/p"), "https://o/p");
}

TEST(ResponseHeadTest, Base64) {
  EXPECT_EQ(Base64(""), "");
  EXPECT_EQ(Base64("f"), "Zg==");
  EXPECT_EQ(Base64("fo"), "Zm8=");
  EXPECT_EQ(Base64("foo"), "Zm9v");
  EXPECT_EQ(Base64("user:pass"), "dXNlcjpwYXNz");
  EXPECT_EQ(Base64("\xff\xfe"), "//4=");
}

}  // namespace
}  // namespace kvhttp::detail
