// The real program on a private X display, driven with X input: single instance, the work
// folder that follows the file name, the whole flow against the servers, message boxes in the
// user's language, and closing in the middle of a download.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/app/support/AppTestSupport.h"
#include "tests/app/support/AppWindow.h"

namespace {

using apptest::AppSandbox;
using apptest::AppWindow;
using std::chrono::seconds;
namespace fs = std::filesystem;

// Points in the 650 x 360 window.
constexpr int kInstallX = 325, kInstallY = 207;  // also "btn_start"
constexpr int kCloseX = 630, kCloseY = 21;

class KvdownloaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(kvtest::HaveProgram("Xvfb") && kvtest::HaveProgram("xdotool") &&
                kvtest::HaveProgram("xprop") && kvtest::HaveProgram("import"))
        << "install the X test tools (scripts/install-deps.sh)";
    ASSERT_TRUE(display_.Start());
    apptest::WriteUrlIni(sandbox_.UrlIni(),
                         {{"STR_DOWN_URL", "http://127.0.0.1:9/download/none.exe"},
                          {"STR_DOWN_URL_X64", "http://127.0.0.1:9/download/none.exe"},
                          {"STR_INSTALL_URL", "http://127.0.0.1:9/producturl?key=installed"}});
  }

  // A copy of the program under another file name.
  fs::path CopyProgramAs(const std::string& name) {
    const fs::path copy = sandbox_.root.path() / "bin" / name;
    fs::create_directories(copy.parent_path());
    fs::copy_file(AppWindow::ProgramPath(), copy, fs::copy_options::overwrite_existing);
    return copy;
  }

  // Closes from the home page: the question, then Yes.
  void CloseFromHome(AppWindow& app) {
    app.Click(kCloseX, kCloseY);
    const std::string box = app.WaitForDialog();
    ASSERT_FALSE(box.empty());
    app.PressDialogButton(box, 0);
    EXPECT_EQ(app.WaitExit(), 0) << app.Output();
  }

  uitest::XvfbDisplay display_;
  AppSandbox sandbox_;
};

TEST_F(KvdownloaderTest, RenamedProgramWorksInAFolderOfItsOwnName) {
  AppWindow app(display_, sandbox_);
  ASSERT_TRUE(app.Start({}, CopyProgramAs("lumenstack-setup")));
  ASSERT_FALSE(app.WaitForWindow().empty()) << app.Output();
  const fs::path work = sandbox_.WorkFolder("lumenstack-setup");
  EXPECT_TRUE(fs::exists(work / "language" / "text.ini"));
  apptest::LogTail log(sandbox_.LogFile("lumenstack-setup"));
  EXPECT_TRUE(fs::exists(sandbox_.LogFile("lumenstack-setup")));
  EXPECT_FALSE(fs::exists(sandbox_.WorkFolder("kvdownloader")));
  const std::string text = kvtest::ReadFile(sandbox_.LogFile("lumenstack-setup"));
  const std::size_t bits = text.find("Windows Bit:");
  EXPECT_LT(text.find("Windows Version:"), bits);
  EXPECT_LT(bits, text.find("downloader version:1.0.0.1"));
  EXPECT_LT(text.find("downloader version:"),
            text.find("DownloadRatio:90  ==== ReadFileTimeout:1500"));
  EXPECT_TRUE(app.Screenshot(sandbox_.root.path() / "home.png"));
  CloseFromHome(app);
}

// A second start brings the first window back and ends with 255, also under another file name
// (the lock is named by the version record's description).
TEST_F(KvdownloaderTest, SecondStartPresentsTheFirstWindow) {
  AppWindow first(display_, sandbox_);
  ASSERT_TRUE(first.Start());
  ASSERT_FALSE(first.WaitForWindow().empty()) << first.Output();
  uitest::RunX(display_, "xdotool windowunmap --sync " + first.window());
  ASSERT_TRUE(first.VisibleWindows().empty());

  AppWindow second(display_, sandbox_);
  ASSERT_TRUE(second.Start());
  EXPECT_EQ(second.WaitExit(), 255) << second.Output();
  EXPECT_TRUE(apptest::WaitUntil([&] { return !first.VisibleWindows().empty(); }, seconds(5)));

  AppWindow renamed(display_, sandbox_);
  ASSERT_TRUE(renamed.Start({}, CopyProgramAs("other-name")));
  EXPECT_EQ(renamed.WaitExit(), 255) << renamed.Output();
  EXPECT_TRUE(first.Running());
  CloseFromHome(first);
}

// The boxes' buttons speak the user's language.
TEST_F(KvdownloaderTest, NetworkBoxInGermanAndAbort) {
  AppWindow app(display_, sandbox_);
  ASSERT_TRUE(app.Start({{"LC_ALL", "de_DE.UTF-8"}}));
  ASSERT_FALSE(app.WaitForWindow().empty()) << app.Output();
  app.Click(kInstallX, kInstallY);
  const std::string box = app.WaitForDialog();
  ASSERT_FALSE(box.empty());
  EXPECT_TRUE(app.Screenshot(sandbox_.root.path() / "network-box-de.png"));
  app.PressDialogButton(box, 0);  // the first button: Abort
  EXPECT_EQ(app.WaitExit(), 0) << app.Output();
  const std::string log = kvtest::ReadFile(sandbox_.LogFile("kvdownloader"));
  EXPECT_NE(log.find("HttpDownloadEnd：Failed"), std::string::npos);
}

TEST_F(KvdownloaderTest, InstallsThroughTheServersAndStarts) {
  apptest::DownloadServer server;
  ASSERT_TRUE(server.Start(64 * 1024));
  const fs::path args = sandbox_.root.path() / "args.txt";
  std::string installer =
      "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + args.string() + "'\nsleep 1\nexit 0\n";
  installer += kvtest::PatternBytes((1 << 20) - installer.size(), 5);
  server.AddFile("setup.exe", installer);
  apptest::WriteUrlIni(sandbox_.UrlIni(),
                       {{"STR_DOWN_URL", server.Url("setup.exe")},
                        {"STR_DOWN_URL_X64", server.Url("setup.exe")},
                        {"STR_INSTALL_URL", server.BaseUrl() + "/producturl?key=installed"}});
  apptest::RecordingOpener opener;
  AppWindow app(display_, sandbox_);
  ASSERT_TRUE(app.Start({{"PATH", opener.PathValue()}}));
  ASSERT_FALSE(app.WaitForWindow().empty()) << app.Output();
  apptest::LogTail log(sandbox_.LogFile("kvdownloader"));

  app.Click(kInstallX, kInstallY);
  ASSERT_TRUE(log.WaitFor("Download....", seconds(10)));
  EXPECT_TRUE(app.Screenshot(sandbox_.root.path() / "downloading.png"));
  ASSERT_TRUE(apptest::WaitUntil([&] { return fs::exists(args); }, seconds(30)));
  EXPECT_NE(kvtest::ReadFile(args).find("/path=" + sandbox_.ProgramFiles().string() + "/\n"),
            std::string::npos);
  ASSERT_TRUE(log.WaitFor("InstallExeFinish", seconds(20)));
  ASSERT_TRUE(opener.WaitForOpened(1, seconds(10)));
  EXPECT_TRUE(app.Screenshot(sandbox_.root.path() / "finished.png"));
  app.Click(kInstallX, kInstallY);
  EXPECT_EQ(app.WaitExit(), 0) << app.Output();
}

// Closing during the download: the question, Yes, and the program is gone in moments with
// nothing left behind; under the sanitizers nothing touched freed memory on the way.
TEST_F(KvdownloaderTest, ClosingDuringTheDownloadEndsCleanly) {
  apptest::DownloadServer server;
  ASSERT_TRUE(server.Start(32 * 1024));
  server.AddFile("setup.exe", kvtest::PatternBytes(3 << 20, 9));
  apptest::WriteUrlIni(sandbox_.UrlIni(), {{"STR_DOWN_URL", server.Url("setup.exe")},
                                           {"STR_DOWN_URL_X64", server.Url("setup.exe")}});
  AppWindow app(display_, sandbox_);
  ASSERT_TRUE(app.Start());
  ASSERT_FALSE(app.WaitForWindow().empty()) << app.Output();
  apptest::LogTail log(sandbox_.LogFile("kvdownloader"));
  app.Click(kInstallX, kInstallY);
  ASSERT_TRUE(apptest::WaitUntil([&] { return server.BytesServed() > 0; }, seconds(10)));

  ASSERT_TRUE(app.RequestClose());
  const std::string box = app.WaitForDialog();
  ASSERT_FALSE(box.empty());
  EXPECT_TRUE(app.Screenshot(sandbox_.root.path() / "close-question.png"));
  const auto before = std::chrono::steady_clock::now();
  app.PressDialogButton(box, 0);
  EXPECT_EQ(app.WaitExit(seconds(15)), 0) << app.Output();
  EXPECT_LT(std::chrono::steady_clock::now() - before, seconds(8));
  EXPECT_TRUE(log.Contains("user maybe cancel"));
  EXPECT_EQ(app.Output().find("Sanitizer"), std::string::npos) << app.Output();
  EXPECT_EQ(app.Output().find("runtime error"), std::string::npos) << app.Output();
  EXPECT_FALSE(fs::exists(sandbox_.WorkFolder("kvdownloader") / "korvana-download.exe"));
}

}  // namespace
