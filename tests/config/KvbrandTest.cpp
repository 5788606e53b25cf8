// The kvbrand tool run as a real process.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/config/KvbrandRun.h"
#include "tests/support/TestSupport.h"

namespace {

namespace fs = std::filesystem;

using kvtest::Kvbrand;
using kvtest::ToolRun;

TEST(Kvbrand, CheckPassesTheBuiltBrandAndReportsABrokenOne) {
  kvtest::TempDir tmp;
  ToolRun good = Kvbrand({"check", KV_TEST_BRAND_DIR}, tmp.path());
  EXPECT_EQ(good.exitCode, 0) << good.output;

  kvtest::TempDir broken;
  fs::copy(KV_TEST_BRAND_DIR, broken.path(), fs::copy_options::recursive);
  fs::remove(broken / "text.ini");
  ToolRun bad = Kvbrand({"check", broken.path().string()}, tmp.path());
  EXPECT_EQ(bad.exitCode, 1);
  EXPECT_NE(bad.output.find("text.ini: file is missing or unreadable"), std::string::npos)
      << bad.output;
}

TEST(Kvbrand, ShowResolvesTheEmbeddedBrandAndCleansUp) {
  kvtest::TempDir tmp;
  ToolRun he = Kvbrand({"show", "--lang", "1037"}, tmp.path());
  ASSERT_EQ(he.exitCode, 0) << he.output;
  EXPECT_NE(he.output.find("Hebrew"), std::string::npos);
  EXPECT_NE(he.output.find("right to left"), std::string::npos);
  EXPECT_NE(he.output.find("&lang=Hebrew&custom="), std::string::npos);
  EXPECT_NE(he.output.find("STR_START="), std::string::npos);
  // The extracted package and the log lived in a scratch folder that is gone.
  EXPECT_TRUE(fs::is_empty(tmp.path()));

  ToolRun unknown = Kvbrand({"show", "--lang", "2057"}, tmp.path());
  EXPECT_EQ(unknown.exitCode, 0);
  EXPECT_NE(unknown.output.find("English"), std::string::npos);

  EXPECT_EQ(Kvbrand({"show", "--lang", "en"}, tmp.path()).exitCode, 2);
  EXPECT_EQ(Kvbrand({"frobnicate"}, tmp.path()).exitCode, 2);
}

}  // namespace
