#include "http/HttpHeader.h"

#include <gtest/gtest.h>

namespace {

const char* kAgent =
    "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/80.0.4044.92 Safari/537.36";

TEST(HttpHeaderTest, RequestTextHasByteOrderedFieldsAndTheExtraLineEnd) {
  CHttpHeader h;
  h.SetField("Host", "srv");
  h.SetRequestPath("/");
  EXPECT_EQ(std::string("GET / HTTP/1.1\r\n"
                        "Accept: */*\r\n"
                        "Accept-Language: zh-CN,zh;q=0.9\r\n"
                        "Connection: Keep-Alive\r\n"
                        "Host: srv\r\n"
                        "User-Agent: ") +
                kAgent + "\r\n\r\n\r\n",
            h.BuildRequest());
  EXPECT_EQ("HTTP/1.1", h.version());
}

TEST(HttpHeaderTest, FirstValueWinsAndEmptyPartsAreIgnored) {
  CHttpHeader h;
  h.AddField("User-Agent", "mine");
  h.AddField("User-Agent", "second");
  h.AddField("X-Empty", "");
  h.AddField("", "v");
  h.AddField("x-low", "1");
  h.AddField("X-Up", "2");
  h.AddField("Accept-Languag", "3");
  EXPECT_EQ("mine", h.GetField("User-Agent"));
  EXPECT_EQ("", h.GetField("X-Empty"));
  EXPECT_EQ("", h.GetField("user-agent"));
  // Upper case before lower case, a name before a longer one that starts with it.
  EXPECT_EQ(
      "Accept: */*\r\nAccept-Languag: 3\r\nAccept-Language: zh-CN,zh;q=0.9\r\n"
      "Connection: Keep-Alive\r\nUser-Agent: mine\r\nX-Up: 2\r\nx-low: 1\r\n",
      h.BuildFieldLines());
  h.SetField("User-Agent", "replaced");
  EXPECT_EQ("replaced", h.GetField("User-Agent"));
}

TEST(HttpHeaderTest, ResponseParsingKeepsFirstFieldAndExactNames) {
  CHttpHeader h;
  h.ParseResponse(
      "HTTP/1.1 302 Moved Temporarily\r\n"
      "Location: /a\r\n"
      "Location: /b\r\n"
      "content-length: 10\r\n"
      "Broken line\r\n"
      "X-Last: end");
  EXPECT_EQ(302, h.statusCode());
  EXPECT_EQ("HTTP/1.1", h.version());
  EXPECT_EQ("Moved Temporarily", h.reason());
  EXPECT_EQ("/a", h.GetField("Location"));
  EXPECT_EQ("", h.GetField("Content-Length"));
  EXPECT_EQ("10", h.GetField("content-length"));
  EXPECT_EQ("end", h.GetField("X-Last"));
  EXPECT_EQ(3u, h.fields().size());

  CHttpHeader odd;
  odd.ParseResponse("HTTP/1.0 abc");
  EXPECT_EQ(0, odd.statusCode());
  EXPECT_EQ("", odd.reason());
}

}  // namespace
