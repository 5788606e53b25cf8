#include "kvhttp/net/Cookies.h"

#include <gtest/gtest.h>

#include <ctime>

namespace kvhttp {
namespace {

TEST(CookieDateTest, TheThreeClassicFormsAgree) {
  EXPECT_EQ(ParseCookieDate("Sun, 06 Nov 1994 08:49:37 GMT"), 784111777);
  EXPECT_EQ(ParseCookieDate("Sunday, 06-Nov-94 08:49:37 GMT"), 784111777);
  EXPECT_EQ(ParseCookieDate("Sun Nov  6 08:49:37 1994"), 784111777);
  EXPECT_EQ(ParseCookieDate("19941106 08:49:37"), 784111777);
  EXPECT_EQ(ParseCookieDate("sun, 06 nov 1994 08:49 gmt"), 784111777 - 37);
}

TEST(CookieDateTest, TwoDigitYearsAndTheEpoch) {
  EXPECT_EQ(ParseCookieDate("01 Jan 71 00:00:00 GMT"), 365 * 86400);
  EXPECT_EQ(ParseCookieDate("01 Jan 70 00:00:00 GMT"), 3155760000);  // 2070
  std::int64_t t = -5;
  EXPECT_FALSE(ParseCookieDate("31 Dec 1969 23:59:59 GMT", t));
  EXPECT_EQ(t, 0);
  EXPECT_EQ(ParseCookieDate("01 Jan 1970 00:00:00 GMT"), 0);
}

TEST(CookieDateTest, Zones) {
  const std::int64_t gmt = ParseCookieDate("Sun, 06 Nov 1994 08:49:37 GMT");
  EXPECT_EQ(ParseCookieDate("Sun, 06 Nov 1994 08:49:37 +0100"), gmt - 3600);
  EXPECT_EQ(ParseCookieDate("Sun, 06 Nov 1994 08:49:37 -0230"), gmt + 9000);
  EXPECT_EQ(ParseCookieDate("Sun, 06 Nov 1994 08:49:37 EST"), gmt + 5 * 3600);
  EXPECT_EQ(ParseCookieDate("Sun, 06 Nov 1994 08:49:37 nzdt"), gmt - 13 * 3600);
  EXPECT_EQ(ParseCookieDate("Sun, 06 Nov 1994 08:49:37 Z"), gmt);
  EXPECT_EQ(ParseCookieDate("06 Nov 1994 GMT UTC"), -1);  // two zones
  // Only six tokens are read: what follows them is not looked at.
  EXPECT_EQ(ParseCookieDate("Sun, 06 Nov 1994 08:49:37 GMT UTC"), gmt);
}

TEST(CookieDateTest, RejectsWhatIsNoDate) {
  EXPECT_EQ(ParseCookieDate("Sun, 06 January 1994 08:49:37 GMT"), -1);
  EXPECT_EQ(ParseCookieDate("06 1994 08:49:37"), -1);  // no month
  EXPECT_EQ(ParseCookieDate("Nov 1994"), -1);          // the year taken as day: no year
  EXPECT_EQ(ParseCookieDate("yesterday"), -1);
  EXPECT_EQ(ParseCookieDate(""), -1);
  EXPECT_EQ(ParseCookieDate("06 Nov 1994 5 6"), -1);  // a number with no place
  EXPECT_EQ(ParseCookieDate("06 Nov 99999999999999999999"), -1);
}

CookieJar JarFor(const std::string& host, const std::string& path = "/dir/file") {
  CookieJar jar;
  jar.host = host;
  jar.request_path = path;
  return jar;
}

TEST(CookiesTest, HostPathAndSecureMatching) {
  CookieJar jar = JarFor("www.example.org");
  ParseSetCookie(jar, "a=1");                                   // host only, path /dir
  ParseSetCookie(jar, "b=2; Domain=.example.org; Path=/");      // whole domain
  ParseSetCookie(jar, "c=3; path=/dir/sub; secure; HttpOnly");  // secure
  ParseSetCookie(jar, "d=4; domain=other.org");                 // not ours: dropped
  ASSERT_EQ(jar.cookies.size(), 3u);
  EXPECT_TRUE(jar.cookies[2].http_only);

  EXPECT_EQ(CookieHeader(jar, connection_security::plain, "www.example.org", "/dir/x"), "a=1; b=2");
  EXPECT_EQ(CookieHeader(jar, connection_security::secure, "www.example.org", "/dir/sub/x"),
            "c=3; a=1; b=2");
  EXPECT_EQ(CookieHeader(jar, connection_security::plain, "api.example.org", "/dir/x"), "b=2");
  EXPECT_EQ(CookieHeader(jar, connection_security::plain, "example.org", "/"), "b=2");
  EXPECT_EQ(CookieHeader(jar, connection_security::plain, "badexample.org", "/"), "");
  EXPECT_EQ(CookieHeader(jar, connection_security::plain, "www.example.org", "/directory"), "b=2");
}

TEST(CookiesTest, ReplacementExpiryAndDeletion) {
  CookieJar jar = JarFor("h");
  ParseSetCookie(jar, "a=1; path=/");
  ParseSetCookie(jar, "a=2; path=/");
  ASSERT_EQ(jar.cookies.size(), 1u);
  EXPECT_EQ(jar.cookies[0].value, "2");

  ParseSetCookie(jar, "b=1; path=/; expires=Sun, 06 Nov 1994 08:49:37 GMT");  // already past
  EXPECT_EQ(jar.cookies.size(), 1u);
  ParseSetCookie(jar, "a=gone; path=/; max-age=0");
  EXPECT_TRUE(jar.cookies.empty());

  ParseSetCookie(jar, "c=1; path=/; expires=3600");  // seconds from now
  ASSERT_EQ(jar.cookies.size(), 1u);
  EXPECT_NEAR(static_cast<double>(jar.cookies[0].expires),
              static_cast<double>(std::time(nullptr) + 3600), 5);
  EXPECT_EQ(CookieHeader(jar, connection_security::plain, "h", "/"), "c=1");
}

TEST(CookiesTest, BlanksAndBareWords) {
  CookieJar jar = JarFor("h", "/");
  ParseSetCookie(jar, "  x = y z ; flag ; ; =v; Path = / ");
  ASSERT_EQ(jar.cookies.size(), 1u);
  EXPECT_EQ(jar.cookies[0].name, "x");
  EXPECT_EQ(jar.cookies[0].value, "y z");
  EXPECT_EQ(jar.cookies[0].path, "/");
  // A control character would end the Cookie line of the next request early.
  ParseSetCookie(jar, "evil=a\rb; Path=/");
  ParseSetCookie(jar, "e\x01vil=1");
  EXPECT_EQ(jar.cookies.size(), 1u);
  EXPECT_EQ(CookieHeader(jar, connection_security::plain, "h", "/"), "x=y z");
}

}  // namespace
}  // namespace kvhttp
