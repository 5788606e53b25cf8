#include "kvhttp/net/ParsedUrl.h"

#include <gtest/gtest.h>

namespace kvhttp {
namespace {

TEST(ParsedUrlTest, SplitsEveryPartAndLowersTheProtocol) {
  boost::system::error_code ec;
  const ParsedUrl u = ParseUrl("HTTP://example.org:8080/a?b#c", ec);
  ASSERT_FALSE(ec);
  EXPECT_EQ(u.protocol, "http");
  EXPECT_EQ(u.host, "example.org");
  EXPECT_EQ(u.port, "8080");
  EXPECT_EQ(u.path, "/a");
  EXPECT_EQ(u.query, "b");
  EXPECT_EQ(u.fragment, "c");
  EXPECT_EQ(UrlToString(u, url_host_port), "example.org:8080");
  EXPECT_EQ(UrlToString(u, url_target), "/a?b#c");
  EXPECT_EQ(UrlToString(u), "http://example.org:8080/a?b#c");
  EXPECT_EQ(UrlPort(u), 8080);
}

TEST(ParsedUrlTest, UserInformationAndIpv6Literals) {
  boost::system::error_code ec;
  ParsedUrl u = ParseUrl("https://user:pa:ss@[::1]:8443/x", ec);
  ASSERT_FALSE(ec);
  EXPECT_EQ(u.user_info, "user:pa:ss");
  EXPECT_EQ(u.host, "::1");
  EXPECT_TRUE(u.ipv6);
  EXPECT_EQ(u.port, "8443");
  EXPECT_EQ(UrlToString(u), "https://user:pa:ss@[::1]:8443/x");

  // A ":" that is a port separator, not part of a user name.
  u = ParseUrl("http://host:81/p@q", ec);
  ASSERT_FALSE(ec);
  EXPECT_EQ(u.user_info, "");
  EXPECT_EQ(u.host, "host");
  EXPECT_EQ(u.port, "81");
  EXPECT_EQ(u.path, "/p@q");
}

TEST(ParsedUrlTest, DefaultsAndPorts) {
  boost::system::error_code ec;
  ParsedUrl u = ParseUrl("https://h", ec);
  ASSERT_FALSE(ec);
  EXPECT_EQ(u.path, "/");
  EXPECT_EQ(UrlPort(u), 443);
  EXPECT_EQ(UrlToString(u, url_host_port), "h");
  u = ParseUrl("http://h?q", ec);
  EXPECT_EQ(u.path, "/");
  EXPECT_EQ(u.query, "q");
  EXPECT_EQ(UrlPort(u), 80);
  EXPECT_EQ(UrlPort(ParseUrl("ftp://h/", ec)), 21);
  EXPECT_EQ(UrlPort(ParseUrl("gopher://h/", ec)), 0);
  EXPECT_EQ(UrlPort(ParseUrl("http://h:99999/", ec)), 0);
}

TEST(ParsedUrlTest, RejectsWhatIsNoUrl) {
  for (const char* text :
       {"http:/h/", "h/a", "", "http://h:8a/", "http://h:/", "http://[::1/", "http://[::1]x/"}) {
    boost::system::error_code ec;
    const ParsedUrl u = ParseUrl(text, ec);
    EXPECT_EQ(ec, boost::system::errc::invalid_argument) << text;
    EXPECT_TRUE(u.empty()) << text;
  }
}

}  // namespace
}  // namespace kvhttp
