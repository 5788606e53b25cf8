// Start with a brand whose product runs unelevated (STR_RUN_AS_ADMIN "0"), with the program
// running as root: through sudo the product runs as the user who asked for root; with nobody to
// run it for, the program says to start it by hand and starts nothing as root.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "platform/Elevation.h"
#include "tests/app/support/FlowTest.h"

namespace {

using namespace SkinUI;
using std::chrono::seconds;
namespace fs = std::filesystem;

class LaunchProductTest : public apptest::FlowTest {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root";
    FlowTest::SetUp();
    ASSERT_TRUE(user_.valid());
    user_.Own(productLogDir_.path());
    ASSERT_TRUE(server_.Start());
    server_.AddFile("setup.exe", apptest::TestInstallerBytes());
    SetEnv("KV_TEST_PRODUCT_LOG", (productLogDir_ / "product.log").string());
    StartApp(server_.Url("setup.exe"));
    ASSERT_FALSE(app_->frame().Language().IsRunAsAdmin());
    app_->Click(L"btn_install");
    ASSERT_TRUE(app_->RunUntil(
        [&] {
          return app_->frame().GetWindowState() == kWindow_Finish && app_->Visible(L"btn_start");
        },
        seconds(30)));
  }
  void TearDown() override {
    FlowTest::TearDown();
    unsetenv("SUDO_UID");
    unsetenv("SUDO_GID");
  }

  apptest::TestUser user_;
  apptest::PrivateDir productLogDir_;
};

TEST_F(LaunchProductTest, ThroughSudoTheProductRunsAsTheUser) {
  setenv("SUDO_UID", std::to_string(user_.uid()).c_str(), 1);
  setenv("SUDO_GID", std::to_string(user_.gid()).c_str(), 1);
  app_->Click(L"btn_start");
  EXPECT_TRUE(app_->RunUntil([&] { return app_->Closed(); }, seconds(5)));
  const fs::path log = productLogDir_ / "product.log";
  ASSERT_TRUE(apptest::WaitUntil([&] { return fs::exists(log) && !kvtest::ReadFile(log).empty(); },
                                 seconds(10)));
  EXPECT_EQ(kvtest::ReadFile(log), std::to_string(user_.uid()) + "\n");
  EXPECT_TRUE(app_->Boxes().empty());
}

TEST_F(LaunchProductTest, WithNobodyToRunItForItAsksToStartByHand) {
  if (platform::InteractiveUser().has_value()) GTEST_SKIP() << "a desktop session is active";
  app_->Click(L"btn_start");
  ASSERT_EQ(app_->Boxes().size(), 1u);
  EXPECT_EQ(app_->Boxes()[0].text, app_->frame().Language().GetText(L"STR_START_MANUALLY"));
  EXPECT_TRUE(app_->RunUntil([&] { return app_->Closed(); }, seconds(5)));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_FALSE(fs::exists(productLogDir_ / "product.log")) << "nothing ran as root";
}

}  // namespace
