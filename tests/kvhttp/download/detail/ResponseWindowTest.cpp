#include "kvhttp/download/detail/ResponseWindow.h"

#include <gtest/gtest.h>

namespace kvhttp::detail {
namespace {

RequestOptions Head(std::initializer_list<std::pair<const char*, const char*>> lines) {
  RequestOptions h;
  for (const auto& [n, v] : lines) h.insert(n, v);
  return h;
}

TEST(ResponseWindow, ValidatorIsTheStrongEtagElseLastModified) {
  EXPECT_EQ(ResponseValidator(Head({{"ETag", " \"abc\" "}, {"Last-Modified", "x"}})), "\"abc\"");
  // A weak ETag may not be used with If-Range.
  EXPECT_EQ(ResponseValidator(Head({{"etag", "W/\"abc\""}, {"Last-Modified", "Sun, 1"}})),
            "Sun, 1");
  EXPECT_EQ(ResponseValidator(Head({})), "");
  EXPECT_EQ(CompareValidators("\"a\"", "\"a\""), validator_match::same);
  EXPECT_EQ(CompareValidators("\"a\"", "\"b\""), validator_match::differs);
  EXPECT_EQ(CompareValidators("\"a\"", ""), validator_match::unknown);
}

TEST(ResponseWindow, BodyWindowOfPartialAndWholeAnswers) {
  BodyWindow w;
  ASSERT_TRUE(ReadBodyWindow(206, Head({{"Content-Range", "bytes 100-199/1000"}}), w));
  EXPECT_EQ(w.start, 100);
  EXPECT_EQ(w.end, 200);
  EXPECT_EQ(w.total, 1000);
  // A length that disagrees with the range, a total of "*", no range at all: unusable.
  EXPECT_FALSE(ReadBodyWindow(
      206, Head({{"Content-Range", "bytes 100-199/1000"}, {"Content-Length", "99"}}), w));
  EXPECT_FALSE(ReadBodyWindow(206, Head({{"Content-Range", "bytes 0-9/*"}}), w));
  EXPECT_FALSE(ReadBodyWindow(206, Head({}), w));
  ASSERT_TRUE(ReadBodyWindow(200, Head({{"Content-Length", "1000"}}), w));
  EXPECT_EQ(w.start, 0);
  EXPECT_EQ(w.end, 1000);
  ASSERT_TRUE(ReadBodyWindow(200, Head({}), w));
  EXPECT_EQ(w.end, -1);
  EXPECT_EQ(w.total, -1);
  EXPECT_FALSE(ReadBodyWindow(404, Head({}), w));
}

}  // namespace
}  // namespace kvhttp::detail
