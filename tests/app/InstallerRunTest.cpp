// The installer run against a real installer binary (kv_test_installer, told what to do through
// the environment it inherits): the progress watch, the finish page, the failure box, the
// running product, closing during the installation, the start of the product and, as root, the
// installation folder that others could change.
// clang-format off
#include "app/InstallerRun.h"
// clang-format on

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "sys/ProcessUtils.h"
#include "sys/SystemInfo.h"
#include "tests/app/support/FlowTest.h"

namespace {

using namespace SkinUI;
using std::chrono::milliseconds;
using std::chrono::seconds;
namespace fs = std::filesystem;

class InstallerRunTest : public apptest::FlowTest {
 protected:
  void SetUp() override {
    FlowTest::SetUp();
    ASSERT_TRUE(server_.Start());
    server_.AddFile("setup.exe", apptest::TestInstallerBytes());
  }
  static void Set(const char* name, const std::string& value) { SetEnv(name, value); }

  void Start() {
    StartApp(server_.Url("setup.exe"));
    ASSERT_EQ(WideToLocale(app_->frame().Language().GetExeRelativePath()),
              std::string(std::getenv("KV_TEST_PRODUCT_PATH")));
  }
  fs::path Product() const { return installDir_ / "Korvana/Korvana Lumenstack/lumenstack"; }
  fs::path ProgressFile() const { return WideToLocale(app_->frame().ProgressFile()); }
  bool FinishPage() {
    return app_->frame().GetWindowState() == kWindow_Finish && app_->Page() == 0 &&
           app_->Visible(L"btn_start");
  }
  bool HomePageAfterFailure() {
    return app_->frame().GetWindowState() == kWindow_Init && app_->Page() == 0 &&
           app_->Visible(L"btn_install") && !app_->Visible(L"btn_start");
  }
};

TEST(ProgressFromTextTest, ReadsTheFirstTenCharactersAndClamps) {
  EXPECT_EQ(ProgressFromText("37"), 37);
  EXPECT_EQ(ProgressFromText(" 37\n"), 37);
  EXPECT_EQ(ProgressFromText("0000000009999"), 9);
  EXPECT_EQ(ProgressFromText("900"), 100);
  EXPECT_EQ(ProgressFromText("9999999999"), 100);
  EXPECT_EQ(ProgressFromText("-5"), 0);
  EXPECT_EQ(ProgressFromText("half"), 0);
}

TEST(InstallerArgumentsTest, OneArgumentPerSwitchWhateverTheFolderHolds) {
  EXPECT_EQ(InstallerArguments(L"/opt/a \"b\" c", L"/w/temp.progress"),
            (std::vector<std::string>{"/verysilent", "/korvana_down", "/wait_run",
                                      "/path=/opt/a \"b\" c/", "/progress=/w/temp.progress"}));
}

// The installer's progress fills the last tenth of the bar; the run ends on the finish page with
// the success event, the domain file and the files cleaned up.
TEST_F(InstallerRunTest, ProgressWatchAndTheFinishPage) {
  Set("KV_TEST_INSTALLER_HOLD", (installDir_ / "release").string());
  Set("KV_TEST_INSTALLER_PROGRESS", "37");
  Start();
  kvtest::WriteFile(ProgressFile(), "77");  // left by an earlier run
  app_->Click(L"btn_install");
  ASSERT_TRUE(WaitForState(kWindow_Installing));
  ASSERT_TRUE(app_->RunUntil([&] { return app_->ProgressValue() == 93; }, seconds(10)));
  EXPECT_EQ(app_->ProgressText(), L"93 %");
  EXPECT_TRUE(app_->host().HasTimer(kTimerProgressPoll));
  EXPECT_EQ(app_->host().GetTimerInterval(kTimerProgressPoll), 1500u);

  kvtest::WriteFile(ProgressFile(), "0000000009999");
  ASSERT_TRUE(app_->RunUntil([&] { return app_->ProgressValue() == 90; }, seconds(10)));
  kvtest::WriteFile(ProgressFile(), "900");
  ASSERT_TRUE(app_->RunUntil([&] { return app_->ProgressValue() == 100; }, seconds(10)));
  EXPECT_EQ(app_->ProgressText(), L"100 %");

  kvtest::WriteFile(installDir_ / "release", "");
  ASSERT_TRUE(app_->RunUntil([&] { return FinishPage(); }, seconds(20)));
  EXPECT_FALSE(app_->Visible(L"btn_install"));
  EXPECT_FALSE(app_->Visible(L"lineLayout"));
  EXPECT_FALSE(app_->Visible(L"customLayout"));
  EXPECT_FALSE(app_->host().HasTimer(kTimerProgressPoll));
  EXPECT_EQ(app_->host().GetTaskbarCompleted(), 100u);
  EXPECT_EQ(kvtest::ReadFile(installDir_ / "Korvana/Korvana Lumenstack/domain"), "com_ru");
  const std::string installerLog = kvtest::ReadFile(installDir_ / "installer.log");
  EXPECT_NE(installerLog.find("progress file absent"), std::string::npos) << installerLog;
  EXPECT_TRUE(log_->Contains("\"name\": \"Installed_Succeed\""));
  // The taskbar button drops its progress a second after the clean-up.
  ASSERT_TRUE(app_->RunUntil(
      [&] { return app_->host().GetTaskbarState() == TaskbarState::kNoProgress; }, seconds(5)));
  EXPECT_FALSE(fs::exists(WideToLocale(app_->frame().InstallerFile())));
  EXPECT_FALSE(fs::exists(ProgressFile()));
  EXPECT_GT(log_->IndexOf("InstallExeFinish"),
            log_->IndexOf("StartInstallExe：SilentInstallation"));
}

// Without a progress file the bar waits at 90 until the installer is done.
TEST_F(InstallerRunTest, NoProgressFileKeepsNinety) {
  Set("KV_TEST_INSTALLER_HOLD", (installDir_ / "release").string());
  Start();
  app_->Click(L"btn_install");
  ASSERT_TRUE(WaitForState(kWindow_Installing));
  app_->RunFor(milliseconds(3500));
  EXPECT_EQ(app_->ProgressValue(), 90);
  kvtest::WriteFile(installDir_ / "release", "");
  ASSERT_TRUE(app_->RunUntil([&] { return FinishPage(); }, seconds(20)));
}

// An installer that fails, one that installs nothing and one that cannot start: the failure
// box, no success event, the home page; a second click runs everything again.
TEST_F(InstallerRunTest, FailedRunsGiveTheBoxAndTheHomePage) {
  struct Case {
    const char* mode;
    bool startable;
  };
  for (const Case& c : {Case{"exit1", true}, Case{"nothing", true}, Case{"ok", false}}) {
    SCOPED_TRACE(c.mode);
    Set("KV_TEST_INSTALLER", c.mode);
    if (!c.startable) server_.AddFile("setup.exe", kvtest::PatternBytes(4096, 2));
    Start();
    std::vector<MessageBoxRequest> boxes;
    AnswerBoxes([&](const MessageBoxRequest& box) {
      boxes.push_back(box);
      return IDOK;
    });
    app_->Click(L"btn_install");
    ASSERT_TRUE(
        app_->RunUntil([&] { return !boxes.empty() && HomePageAfterFailure(); }, seconds(30)));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, app_->frame().Language().GetText(L"STR_INSTALL_FAILED"));
    EXPECT_EQ(boxes[0].flags, MB_OK | MB_ICONERROR);
    EXPECT_EQ(app_->ProgressValue(), 0);
    EXPECT_FALSE(log_->Contains("Installed_Succeed"));
    EXPECT_TRUE(log_->Contains("installation failed"));
    EXPECT_FALSE(fs::exists(WideToLocale(app_->frame().InstallerFile())));
    fs::remove_all(installDir_ / "Korvana");
  }
  // Once the installer works, the same window installs.
  server_.AddFile("setup.exe", apptest::TestInstallerBytes());
  Set("KV_TEST_INSTALLER", "ok");
  app_->Click(L"btn_install");
  ASSERT_TRUE(app_->RunUntil([&] { return FinishPage(); }, seconds(30)));
  EXPECT_TRUE(fs::exists(Product()));
}

// A running product is asked about with the taskbar paused: OK ends it and goes on, Cancel
// closes the program and removes the installer.
TEST_F(InstallerRunTest, RunningProductIsAskedAbout) {
  apptest::PrivateDir bin;
  fs::copy_file("/bin/sleep", bin / "lumenstack");
  for (int answer : {IDOK, IDCANCEL}) {
    SCOPED_TRACE(answer);
    kvtest::ChildProcess product;
    ASSERT_TRUE(product.Start({(bin / "lumenstack").string(), "60"}));
    ASSERT_TRUE(apptest::WaitUntil(
        [] {
          std::uint32_t pid = 0;
          return FindProcess(L"lumenstack", pid);
        },
        seconds(5)));
    Start();
    TaskbarState during = TaskbarState::kNormal;
    std::vector<MessageBoxRequest> boxes;
    AnswerBoxes([&](const MessageBoxRequest& box) {
      boxes.push_back(box);
      during = app_->host().GetTaskbarState();
      return answer;
    });
    app_->Click(L"btn_install");
    if (answer == IDOK) {
      ASSERT_TRUE(app_->RunUntil([&] { return FinishPage(); }, seconds(30)));
      EXPECT_TRUE(apptest::WaitUntil([&] { return !product.Running(); }, seconds(5)));
    } else {
      ASSERT_TRUE(app_->RunUntil([&] { return app_->Closed(); }, seconds(30)));
      EXPECT_TRUE(product.Running());
      EXPECT_FALSE(fs::exists(Product())) << "the installer did not run";
    }
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, app_->frame().Language().GetText(L"STR_SOFT_RUN"));
    EXPECT_EQ(boxes[0].flags, MB_OKCANCEL | MB_ICONWARNING);
    EXPECT_EQ(during, TaskbarState::kPaused);
    // The finish page shows before the clean-up.
    EXPECT_TRUE(apptest::WaitUntil(
        [&] { return !fs::exists(WideToLocale(app_->frame().InstallerFile())); }, seconds(5)));
    fs::remove_all(installDir_ / "Korvana");
  }
}

// Yes to the close question during the installation ends the installer's work process and
// removes the installer's files.
TEST_F(InstallerRunTest, ClosingDuringTheInstallationEndsTheInstaller) {
  Set("KV_TEST_INSTALLER", "work");
  Start();
  AnswerBoxes([](const MessageBoxRequest&) { return IDYES; });
  app_->Click(L"btn_install");
  std::uint32_t pid = 0;
  ASSERT_TRUE(
      app_->RunUntil([&] { return FindProcess(L"korvana-download.tmp", pid); }, seconds(30)));
  kvtest::WriteFile(ProgressFile(), "50");
  app_->host().RequestClose();
  ASSERT_TRUE(app_->Closed());
  EXPECT_TRUE(
      apptest::WaitUntil([&] { return !FindProcess(L"korvana-download.tmp", pid); }, seconds(5)));
  EXPECT_FALSE(fs::exists(ProgressFile()));
  EXPECT_FALSE(fs::exists(WideToLocale(app_->frame().InstallerFile())));
  const auto before = std::chrono::steady_clock::now();
  app_->DestroyFrame();
  EXPECT_LT(std::chrono::steady_clock::now() - before, seconds(5));
  EXPECT_FALSE(log_->Contains("Installed_Succeed"));
}

// Start: the demo brand says "1", so the product runs as ourselves; the program closes.
TEST_F(InstallerRunTest, StartRunsTheProductAndCloses) {
  Start();
  app_->Click(L"btn_install");
  ASSERT_TRUE(app_->RunUntil([&] { return FinishPage(); }, seconds(30)));
  app_->Click(L"btn_start");
  EXPECT_TRUE(app_->RunUntil([&] { return app_->Closed(); }, seconds(5)));
  const fs::path log = installDir_ / "product.log";
  ASSERT_TRUE(apptest::WaitUntil([&] { return fs::exists(log) && !kvtest::ReadFile(log).empty(); },
                                 seconds(10)));
  EXPECT_EQ(kvtest::ReadFile(log), std::to_string(geteuid()) + "\n");
}

// As root, a folder that others can change on the way to the product is refused.
TEST_F(InstallerRunTest, RootRefusesAFolderOthersCanChange) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  kvtest::TempDir underTmp;  // below the world-writable /tmp
  pickedFolder_ = underTmp.path().wstring();
  Start();
  app_->Click(L"btn_install");
  EXPECT_EQ(app_->frame().GetWindowState(), kWindow_Init);
  EXPECT_TRUE(app_->Visible(L"label_tip"));
  EXPECT_EQ(app_->Find(L"label_tip")->GetText(),
            app_->frame().Language().GetText(L"STR_PATH_INVALID"));
}

}  // namespace
