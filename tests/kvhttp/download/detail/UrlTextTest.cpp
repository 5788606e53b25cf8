#include "kvhttp/download/detail/UrlText.h"

#include <gtest/gtest.h>

#include <clocale>

#include "kvhttp/download/detail/ContentRange.h"
#include "kvhttp/download/detail/PathText.h"

namespace kvhttp::detail {
namespace {

TEST(UrlText, EscapesWhatARequestLineCannotCarry) {
  EXPECT_EQ(EscapeUrlText("http://h/a b^`{|}.exe?q=1#f"),
            "http://h/a%20b%5e%60%7b%7c%7d.exe?q=1#f");
  // Already escaped text and reserved characters pass unchanged.
  EXPECT_EQ(EscapeUrlText("http://h/%41%20x?a=b&c=d"), "http://h/%41%20x?a=b&c=d");
  // Bytes that are not valid in the locale are escaped one by one.
  std::setlocale(LC_CTYPE, "C.UTF-8");
  EXPECT_EQ(EscapeUrlText("http://h/\xff"), "http://h/%ff");
  // Text of the locale goes out as UTF-8.
  EXPECT_EQ(EscapeUrlText("http://h/\xc3\xa9t\xc3\xa9"), "http://h/%c3%a9t%c3%a9");
  std::setlocale(LC_CTYPE, "C");
}

TEST(UrlText, LocaleAndPathConversions) {
  std::setlocale(LC_CTYPE, "C.UTF-8");
  std::wstring wide;
  ASSERT_TRUE(LocaleToWideText("\xe4\xb8\xad/x", wide));
  EXPECT_EQ(wide, L"\u4e2d/x");
  std::string narrow;
  ASSERT_TRUE(WideToLocaleText(wide, narrow));
  EXPECT_EQ(narrow, "\xe4\xb8\xad/x");
  EXPECT_FALSE(LocaleToWideText("\xff", wide));
  std::setlocale(LC_CTYPE, "C");

  EXPECT_EQ(PathToNative(L"/tmp/\u00e9\U0001F600"), "/tmp/\xc3\xa9\xf0\x9f\x98\x80");
  EXPECT_EQ(NativeToPath("/tmp/\xc3\xa9\xf0\x9f\x98\x80"), L"/tmp/\u00e9\U0001F600");
  // A stray byte stands for itself instead of being lost.
  EXPECT_EQ(NativeToPath("a\xff"
                         "b\xc3"),
            L"a\u00ff"
            L"b\u00c3");

  std::string url;
  ASSERT_TRUE(NormaliseUrlText("HTTP://Host:81/p?q#f", url));
  EXPECT_EQ(url, "http://Host:81/p?q#f");
  EXPECT_FALSE(NormaliseUrlText("no scheme", url));
}

TEST(ContentRange, ParsesOnlyWellFormedRanges) {
  ContentRange r;
  ASSERT_TRUE(ParseContentRange("bytes 100-199/1000", r));
  EXPECT_EQ(r.first, 100);
  EXPECT_EQ(r.last, 199);
  EXPECT_EQ(r.total, 1000);
  ASSERT_TRUE(ParseContentRange(" bytes 0-0/*", r));
  EXPECT_EQ(r.total, -1);
  for (const char* bad : {"bytes */1000", "bytes 5-4/10", "bytes 0-9/9", "items 0-1/2", "bytes 0-1",
                          "bytes -1-2/3", "bytes 0-1/x", ""})
    EXPECT_FALSE(ParseContentRange(bad, r)) << bad;
  std::int64_t v = 0;
  EXPECT_TRUE(ParseDecimal(" 9223372036854775807 ", v));
  EXPECT_EQ(v, INT64_MAX);
  EXPECT_FALSE(ParseDecimal("9223372036854775808", v));
  EXPECT_FALSE(ParseDecimal("12a", v));
  EXPECT_FALSE(ParseDecimal("-1", v));
  EXPECT_EQ(ContentRangeTotalText("bytes 0-1/77"), "77");
  EXPECT_EQ(ContentRangeTotalText("nothing"), "");
}

}  // namespace
}  // namespace kvhttp::detail
