// The real program on a private X display, driven with X input: single instance, the work
// folder that follows the file name, the whole flow against the servers, message boxes in the
// user's language, and closing in the middle of a download.
#include <gtest/gtest.h>
#include <signal.h>

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

// A lock name that something else took (here a folder in its place) is no instance of ours:
// the program says so in its log and starts rather than exit with 255 for ever.
TEST_F(KvdownloaderTest, LockThatIsNotOursDoesNotKeepItFromStarting) {
  fs::path lockFile;
  {
    AppWindow first(display_, sandbox_);
    ASSERT_TRUE(first.Start());
    ASSERT_FALSE(first.WaitForWindow().empty()) << first.Output();
    for (const auto& entry : fs::recursive_directory_iterator(sandbox_.root.path() / "run")) {
      const std::string name = entry.path().filename().string();
      if (name.rfind("kvdownloader-", 0) == 0 && entry.path().extension() == ".lock") {
        lockFile = entry.path();
      }
    }
    ASSERT_FALSE(lockFile.empty());
    CloseFromHome(first);
  }
  fs::remove(lockFile);
  fs::create_directory(lockFile);

  AppWindow app(display_, sandbox_);
  ASSERT_TRUE(app.Start());
  ASSERT_FALSE(app.WaitForWindow().empty()) << app.Output();
  const std::string log = kvtest::ReadFile(sandbox_.LogFile("kvdownloader"));
  const std::size_t line = log.find("single instance lock not taken: ");
  ASSERT_NE(line, std::string::npos) << log;
  EXPECT_NE(log.find(lockFile.string(), line), std::string::npos) << log;
  CloseFromHome(app);
  EXPECT_TRUE(fs::is_directory(lockFile));
}

// The boxes' buttons speak the user's language; Ignore hands the download to the browser and
// the window goes back to its home page.
TEST_F(KvdownloaderTest, NetworkBoxInGermanAndIgnore) {
  apptest::RecordingOpener opener;
  AppWindow app(display_, sandbox_);
  ASSERT_TRUE(app.Start({{"LC_ALL", "de_DE.UTF-8"}, {"PATH", opener.PathValue()}}));
  ASSERT_FALSE(app.WaitForWindow().empty()) << app.Output();
  app.Click(kInstallX, kInstallY);
  const std::string box = app.WaitForDialog();
  ASSERT_FALSE(box.empty());
  EXPECT_TRUE(app.Screenshot(sandbox_.root.path() / "network-box-de.png"));
  app.PressDialogButton(box, 2);  // Ignorieren
  ASSERT_TRUE(opener.WaitForOpened(1, seconds(10)));
  EXPECT_EQ(opener.Opened(), std::vector<std::string>{"http://127.0.0.1:9/download/none.exe"});
  ASSERT_TRUE(apptest::WaitUntil([&] { return app.VisibleWindows().size() == 1; }, seconds(5)));
  EXPECT_TRUE(app.Screenshot(sandbox_.root.path() / "home-after-ignore.png"));
  const std::string log = kvtest::ReadFile(sandbox_.LogFile("kvdownloader"));
  EXPECT_NE(log.find("HttpDownloadEnd：Failed"), std::string::npos);
  EXPECT_NE(log.find("UpdateWindowSate:kWindow_Init", log.find("HttpDownloadEnd")),
            std::string::npos);
  CloseFromHome(app);
}

// End to end with the demo installer: the product installed with its desktop entry, the
// after-installation page opened once, a second after the clean-up, and Start runs the product.
TEST_F(KvdownloaderTest, InstallsTheDemoProductAndStartsIt) {
  apptest::DownloadServer server;
  ASSERT_TRUE(server.Start());
  server.AddFile("setup.exe",
                 kvtest::ReadFile(kvtest::BinaryDir() / "tools/demo-installer/demo-installer"));
  const std::string page = server.BaseUrl() + "/producturl?key=installed";
  apptest::WriteUrlIni(sandbox_.UrlIni(), {{"STR_DOWN_URL", server.Url("setup.exe")},
                                           {"STR_DOWN_URL_X64", server.Url("setup.exe")},
                                           {"STR_INSTALL_URL", page}});
  apptest::RecordingOpener opener;
  AppWindow app(display_, sandbox_);
  ASSERT_TRUE(app.Start({{"PATH", opener.PathValue()}}));
  ASSERT_FALSE(app.WaitForWindow().empty()) << app.Output();
  apptest::LogTail log(sandbox_.LogFile("kvdownloader"));

  app.Click(kInstallX, kInstallY);
  ASSERT_TRUE(log.WaitFor("UpdateWindowSate:kWindow_Installing", seconds(20)));
  const fs::path installer = sandbox_.WorkFolder("kvdownloader") / "korvana-download.exe";
  ASSERT_TRUE(apptest::WaitUntil([&] { return fs::exists(installer); }, seconds(10)));
  EXPECT_TRUE(app.Screenshot(sandbox_.root.path() / "installing.png"));
  ASSERT_TRUE(apptest::WaitUntil([&] { return !fs::exists(installer); }, seconds(20)));
  const auto cleanedUp = std::chrono::steady_clock::now();
  ASSERT_TRUE(opener.WaitForOpened(1, seconds(10)));
  EXPECT_GE(std::chrono::steady_clock::now() - cleanedUp, std::chrono::milliseconds(900));
  EXPECT_EQ(opener.Opened(),
            std::vector<std::string>{page + "&pid=1102&lang=English&custom=com_ru"});

  const fs::path folder = sandbox_.ProgramFiles() / "Korvana" / "Korvana Lumenstack";
  EXPECT_EQ(kvtest::ReadFile(folder / "domain"), "com_ru");
  EXPECT_EQ(uitest::RunX(display_, "'" + (folder / "lumenstack").string() + "' --version"),
            "Korvana Lumenstack 2.1.0");
  const fs::path entry =
      sandbox_.root.path() / "home/.local/share/applications/korvana-lumenstack.desktop";
  ASSERT_TRUE(fs::exists(entry));
  EXPECT_NE(kvtest::ReadFile(entry).find("Exec=\"" + (folder / "lumenstack").string() + "\""),
            std::string::npos);
  EXPECT_TRUE(log.Contains("\"name\": \"Installed_Succeed\""));
  EXPECT_TRUE(app.Screenshot(sandbox_.root.path() / "finished.png"));

  app.Click(kInstallX, kInstallY);  // Start
  EXPECT_EQ(app.WaitExit(), 0) << app.Output();
  const std::string product = uitest::FindXWindow(display_, "^Korvana Lumenstack$", seconds(10));
  ASSERT_FALSE(product.empty()) << "the product's window";
  EXPECT_TRUE(app.Screenshot(sandbox_.root.path() / "product.png"));
  const std::string pid = uitest::RunX(display_, "xdotool getwindowpid " + product);
  ASSERT_FALSE(pid.empty());
  kill(std::stoi(pid), SIGTERM);
  opener.WaitForOpened(2, std::chrono::milliseconds(500));
  EXPECT_EQ(opener.Opened().size(), 1u) << "the page opens once";
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
