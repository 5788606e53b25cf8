#include "http/HttpUrl.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

struct UrlCase {
  const char* url;
  const char* host;
  const char* path;
  std::uint16_t port;
};

TEST(HttpUrlTest, BothFormsSplitAlike) {
  const UrlCase cases[] = {
      {"http://srv/a/b?x=1", "srv", "/a/b?x=1", 80},
      {"https://srv/a", "srv", "/a", 443},
      {"http://srv", "srv", "/", 80},
      {"srv/x", "srv", "/x", 80},
      {"https://srv:8443/p", "srv", "/p", 8443},
      {"http://srv:443/p", "srv", "/p", 443},
      {"http://srv:abc/p", "srv", "/p", 0},
      {"http://srv:70000/", "srv", "/", 70000 - 65536},
      {"https://a/http://b/c", "a", "/http://b/c", 443},
      {"HTTPS://a/x", "a", "/x", 443},
      {"http://a/?next=https://b/", "a", "/?next=https://b/", 80},
      {"x?u=https://b/c", "b", "/c", 443},
  };
  for (const auto& c : cases) {
    std::string host, path;
    std::uint16_t port = 1;
    ParseHttpUrl(std::string(c.url), host, path, port);
    EXPECT_EQ(c.host, host) << c.url;
    EXPECT_EQ(c.path, path) << c.url;
    EXPECT_EQ(c.port, port) << c.url;

    std::wstring wurl(c.url, c.url + std::strlen(c.url)), whost, wpath;
    ParseHttpUrl(wurl, whost, wpath, port);
    EXPECT_EQ(std::wstring(host.begin(), host.end()), whost) << c.url;
    EXPECT_EQ(std::wstring(path.begin(), path.end()), wpath) << c.url;
    EXPECT_EQ(c.port, port) << c.url;
  }
}

TEST(HttpUrlTest, TlsOnPort443AndForEveryHttpsUrl) {
  EXPECT_TRUE(UsesTls(std::string("http://srv:443/"), 443));
  EXPECT_TRUE(UsesTls(std::string("https://srv:8443/"), 8443));
  EXPECT_TRUE(UsesTls(std::wstring(L"Https://srv:80/"), 80));
  EXPECT_FALSE(UsesTls(std::string("http://srv:8443/"), 8443));
  EXPECT_FALSE(UsesTls(std::wstring(L"x?u=https://b/c"), 8080));
}

}  // namespace
