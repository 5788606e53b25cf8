#include "config/SplitUrl.h"

// What the test itself uses.
#include <gtest/gtest.h>

namespace {

struct Split {
  bool ok;
  std::wstring host, path;
};

Split SplitOf(const std::wstring& url) {
  Split s{false, L"host?", L"path?"};
  s.ok = SplitUrl(url, s.host, s.path);
  return s;
}

TEST(SplitUrl, HostAndPathOfHttpAndHttps) {
  Split a = SplitOf(L"http://127.0.0.1:18080/producturl?key=pkg_url&pid=1102");
  EXPECT_TRUE(a.ok);
  EXPECT_EQ(a.host, L"127.0.0.1:18080");
  EXPECT_EQ(a.path, L"producturl?key=pkg_url&pid=1102");

  Split b = SplitOf(L"https://user@api.example.com/a/b/");
  EXPECT_TRUE(b.ok);
  EXPECT_EQ(b.host, L"user@api.example.com");
  EXPECT_EQ(b.path, L"a/b/");

  Split c = SplitOf(L"HTTPS://Example.COM/");
  EXPECT_TRUE(c.ok);
  EXPECT_EQ(c.host, L"Example.COM");
  EXPECT_EQ(c.path, L"");
}

TEST(SplitUrl, NoSlashAfterHostFailsWithHostSet) {
  Split s = SplitOf(L"https://example.com?x=1");
  EXPECT_FALSE(s.ok);
  EXPECT_EQ(s.host, L"example.com?x=1");
  EXPECT_EQ(s.path, L"path?");
}

TEST(SplitUrl, WithoutSchemeNothingChanges) {
  for (const wchar_t* url : {L"example.com/a", L"", L"ftp://example.com/a", L"http:/x/y"}) {
    Split s = SplitOf(url);
    EXPECT_TRUE(s.ok) << url;
    EXPECT_EQ(s.host, L"host?");
    EXPECT_EQ(s.path, L"path?");
  }
}

TEST(SplitUrl, SchemeInsideTheQueryIsNotTheScheme) {
  Split s = SplitOf(L"https://redirect.example/go?to=http://other.example/x");
  EXPECT_TRUE(s.ok);
  EXPECT_EQ(s.host, L"redirect.example");
  EXPECT_EQ(s.path, L"go?to=http://other.example/x");

  Split t = SplitOf(L"see http://example.com/a");
  EXPECT_TRUE(t.ok);
  EXPECT_EQ(t.host, L"host?");
}

}  // namespace
