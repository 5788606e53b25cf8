// The install flow against real servers, driven through the controller's window on the
// headless host: downloads, failures and their box, Retry, Ignore, Abort, the close question
// during a download, the free-space checks and the redirect probe.
// clang-format off
#include "app/InstallFlow.h"
// clang-format on

#include <gtest/gtest.h>
#include <sys/mount.h>

#include <algorithm>
#include <atomic>
#include <filesystem>

#include "integrity/PayloadSigning.h"
#include "sys/SystemInfo.h"
#include "tests/app/support/FlowTest.h"
#include "tests/kvhttp/support/FaultServer.h"
#include "tests/kvhttp/support/ProxyServers.h"

namespace {

using namespace SkinUI;
using apptest::DownloadServer;
using apptest::HeadlessApp;
using apptest::LogTail;
namespace fs = std::filesystem;
using std::chrono::seconds;

// At kSlowRate per connection the engine's 8 connections take about six seconds for it. nginx
// sends the first second's worth at once, so the rate must stay below one request's size.
constexpr std::size_t kBigInstaller = 3 << 20;
constexpr std::int64_t kSlowRate = 64 * 1024;

// The test installer (it records its arguments in installer.log), padded to about `size`.
std::string Installer(std::size_t size) {
  std::string bytes = apptest::TestInstallerBytes();
  if (bytes.size() < size) bytes += kvtest::PatternBytes(size - bytes.size(), 3);
  return bytes;
}

class InstallFlowTest : public apptest::FlowTest {
 protected:
  // Requests for the installer that asked for a range starting past 0.
  int ResumedRequests() const {
    int n = 0;
    for (const std::string& line : server_.RequestLog()) {
      if (line.find("GET /download/") != std::string::npos &&
          line.find("[bytes=") != std::string::npos &&
          line.find("[bytes=0-") == std::string::npos) {
        ++n;
      }
    }
    return n;
  }
};

TEST_F(InstallFlowTest, DownloadFillsNinetyPercentAndStartsTheInstaller) {
  ASSERT_TRUE(server_.Start(kSlowRate));
  const fs::path args = installDir_ / "installer.log";
  server_.AddFile("setup.exe", Installer(1 << 20));
  StartApp(server_.Url("setup.exe"));

  app_->Click(L"btn_install");
  EXPECT_EQ(app_->Page(), 1);
  EXPECT_EQ(app_->ProgressText(), L"0 %");
  std::vector<int> seen;
  ASSERT_TRUE(app_->RunUntil(
      [&] {
        if (seen.empty() || seen.back() != app_->ProgressValue()) {
          seen.push_back(app_->ProgressValue());
        }
        return app_->frame().GetWindowState() >= kWindow_Installing && app_->ProgressValue() >= 90;
      },
      seconds(30)));
  // Download progress fills the bar up to 90, never beyond, and never goes back.
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
  EXPECT_GT(seen.size(), 2u);
  ASSERT_TRUE(apptest::WaitUntil(
      [&] { return kvtest::ReadFile(args).find("progress file") != std::string::npos; },
      seconds(10)));
  EXPECT_EQ(kvtest::ReadFile(args),
            "/verysilent\n/korvana_down\n/wait_run\n/path=" + installDir_.path().string() +
                "/\n/progress=" + WideToLocale(app_->frame().ProgressFile()) +
                "\nprogress file absent\n");
  int ranged = 0;
  for (const std::string& line : server_.RequestLog()) {
    if (line.find("GET /download/setup.exe 206 [bytes=") != std::string::npos) ++ranged;
  }
  EXPECT_GE(ranged, 2) << "the download is split over several connections";
  EXPECT_GT(log_->IndexOf("HttpDownloadEnd：Success"), log_->IndexOf("get disk size end"));
  EXPECT_GT(log_->IndexOf("UpdateWindowSate:kWindow_Installing"),
            log_->IndexOf("HttpDownloadEnd：Success"));
}

// A server that starts failing stops the engine short of the file: the user gets the network
// box, and Retry continues where the data ended instead of starting over.
TEST_F(InstallFlowTest, RetryAfterTheServerFailedResumes) {
  ASSERT_TRUE(server_.Start(kSlowRate));
  server_.AddFile("setup.exe", Installer(kBigInstaller));
  StartApp(server_.Url("setup.exe"));
  std::vector<MessageBoxRequest> boxes;
  AnswerBoxes([&](const MessageBoxRequest& box) {
    boxes.push_back(box);
    server_.SetFailing(false);
    return IDRETRY;
  });

  app_->Click(L"btn_install");
  ASSERT_TRUE(WaitForProgress(18));
  server_.SetFailing(true);
  ASSERT_TRUE(WaitForState(kWindow_Installing, seconds(60)));
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, NetworkErrorText());
  EXPECT_EQ(boxes[0].flags, MB_ABORTRETRYIGNORE | MB_ICONWARNING);
  EXPECT_GT(ResumedRequests(), 0);
  EXPECT_LT(server_.BytesServed(), static_cast<std::int64_t>(kBigInstaller) * 3 / 2);
  EXPECT_TRUE(log_->Contains("HttpDownloadEnd：Failed"));
}

// (The browser's side of Ignore is seen from outside, by the test of the real program.)
TEST_F(InstallFlowTest, IgnoreGoesHome) {
  ASSERT_TRUE(server_.Start());
  server_.AddFile("setup.exe", "x");
  server_.SetFailing(true);
  StartApp(server_.Url("setup.exe"));
  TaskbarState taskbarDuringBox = TaskbarState::kNoProgress;
  AnswerBoxes([&](const MessageBoxRequest&) {
    taskbarDuringBox = app_->host().GetTaskbarState();
    return IDIGNORE;
  });

  app_->Click(L"btn_install");
  ASSERT_TRUE(WaitForState(kWindow_Init));
  ASSERT_TRUE(app_->RunUntil([&] { return app_->Page() == 0; }, seconds(5)));
  EXPECT_EQ(taskbarDuringBox, TaskbarState::kError);
  EXPECT_EQ(app_->ProgressValue(), 0);
  EXPECT_EQ(app_->ProgressText(), L"0 %");
  EXPECT_TRUE(app_->Visible(L"btn_install"));
  EXPECT_FALSE(app_->Visible(L"btn_start"));
  EXPECT_FALSE(app_->Closed());
  // A second click starts over.
  app_->Click(L"btn_install");
  EXPECT_TRUE(WaitForState(kWindow_Init));
  EXPECT_EQ(app_->Boxes().size(), 2u);
}

TEST_F(InstallFlowTest, AbortClosesAndRemovesTheInstallerFiles) {
  ASSERT_TRUE(server_.Start());
  server_.AddFile("setup.exe", "x");
  server_.SetFailing(true);
  StartApp(server_.Url("setup.exe"));
  kvtest::WriteFile(WideToLocale(app_->frame().ProgressFile()), "40");
  AnswerBoxes([](const MessageBoxRequest&) { return IDABORT; });

  app_->Click(L"btn_install");
  ASSERT_TRUE(app_->RunUntil([&] { return app_->Closed(); }, seconds(30)));
  EXPECT_FALSE(fs::exists(WideToLocale(app_->frame().ProgressFile())));
  EXPECT_FALSE(fs::exists(WideToLocale(app_->frame().InstallerFile())));
}

// The close question stops the download while it is open; No lets it go on from where it was,
// and the stop we made ourselves brings no error box.
TEST_F(InstallFlowTest, NoToTheCloseQuestionResumesTheDownload) {
  ASSERT_TRUE(server_.Start(kSlowRate));
  server_.AddFile("setup.exe", Installer(kBigInstaller));
  StartApp(server_.Url("setup.exe"));
  std::vector<MessageBoxRequest> boxes;
  AnswerBoxes([&](const MessageBoxRequest& box) {
    boxes.push_back(box);
    return IDNO;
  });

  app_->Click(L"btn_install");
  ASSERT_TRUE(WaitForProgress(18));
  app_->host().RequestClose();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, app_->frame().Language().GetText(L"STR_CLOSE_TIP2"));
  ASSERT_TRUE(WaitForState(kWindow_Installing, seconds(60)));
  EXPECT_EQ(boxes.size(), 1u) << "no network box after our own cancel";
  EXPECT_TRUE(log_->Contains("user maybe cancel"));
  EXPECT_GT(ResumedRequests(), 0);
  EXPECT_LT(server_.BytesServed(), static_cast<std::int64_t>(kBigInstaller) * 3 / 2);
}

// Yes during the download: the window goes at once, the download stops, the installer files
// go; the controller can be destroyed while its workers wind down.
TEST_F(InstallFlowTest, ClosingMidDownloadStopsEverything) {
  ASSERT_TRUE(server_.Start(kSlowRate));
  server_.AddFile("setup.exe", Installer(kBigInstaller));
  StartApp(server_.Url("setup.exe"));
  kvtest::WriteFile(WideToLocale(app_->frame().ProgressFile()), "40");
  AnswerBoxes([](const MessageBoxRequest&) { return IDYES; });

  app_->Click(L"btn_install");
  ASSERT_TRUE(WaitForProgress(9));
  app_->host().RequestClose();
  EXPECT_TRUE(app_->Closed());
  const auto before = std::chrono::steady_clock::now();
  const fs::path progress = WideToLocale(app_->frame().ProgressFile());
  app_->DestroyFrame();
  EXPECT_LT(std::chrono::steady_clock::now() - before, seconds(10));
  EXPECT_FALSE(fs::exists(progress));
  const std::int64_t served = server_.BytesServed();
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_EQ(server_.BytesServed(), served) << "nothing is fetched after the close";
  EXPECT_LT(served, static_cast<std::int64_t>(kBigInstaller));
}

// Not knowing the free space is logged and the download goes on.
TEST_F(InstallFlowTest, FailedFreeSpaceQueryDoesNotStopTheDownload) {
  ASSERT_TRUE(server_.Start());
  server_.AddFile("setup.exe", Installer(4096));
  // Deeper than any path the system takes: its file system cannot be asked, but the folder
  // check lets it through (only a missing folder is refused).
  for (int i = 0; i < 25; ++i) pickedFolder_ += L"/" + std::wstring(200, L'd');
  StartApp(server_.Url("setup.exe"));
  app_->Click(L"btn_install");
  ASSERT_TRUE(WaitForState(kWindow_Installing));
  EXPECT_TRUE(log_->Contains("OnClickInstall：GetFreeSize Failed"));
  EXPECT_TRUE(log_->Contains("HttpDownloadEnd：Success"));
  app_->DestroyFrame();
  // The product folder was made below it; a path this long needs a remover that walks it.
  EXPECT_EQ(std::system(("rm -rf '" + installDir_.path().string() + "/dddd'*").c_str()), 0);
}

TEST(DiskRoomTest, EveryFileSystemMustHaveTheRoom) {
  kvtest::TempDir dir;
  std::uint32_t freeMb = 0;
  ASSERT_TRUE(GetFreeSpaceMB(dir.path().wstring(), freeMb));
  DiskRoom room = CheckDiskRoom({dir.path().wstring(), L"/"}, 1);
  EXPECT_TRUE(room.enough);
  EXPECT_FALSE(room.anyUnknown);
  room = CheckDiskRoom({dir.path().wstring(), L"/proc/"}, freeMb / 2 + 1);
  EXPECT_FALSE(room.enough) << "/proc has no free space";
  EXPECT_EQ(room.freeMb, 0u);
  room = CheckDiskRoom({L"/tmp/" + std::wstring(5000, L'x'), dir.path().wstring()}, 1);
  EXPECT_TRUE(room.anyUnknown);
  EXPECT_TRUE(room.enough);
}

// A 1 GB installer needs 3072 MB; a folder on a small file system gets the storage box and the
// window goes back home without downloading.
TEST_F(InstallFlowTest, StorageBoxForASmallFileSystem) {
  apptest::PrivateDir mountPoint;
  if (mount("kvtest", mountPoint.path().c_str(), "tmpfs", 0, "size=64m,mode=0755") != 0) {
    GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
  }
  ASSERT_TRUE(server_.Start());
  server_.AddSparseFile("setup.exe", std::int64_t{1} << 30);
  pickedFolder_ = mountPoint.path().wstring();
  StartApp(server_.Url("setup.exe"));
  std::vector<MessageBoxRequest> boxes;
  AnswerBoxes([&](const MessageBoxRequest& box) {
    boxes.push_back(box);
    return IDOK;
  });
  app_->Click(L"btn_install");
  const bool home =
      WaitForState(kWindow_Init) && app_->RunUntil([&] { return app_->Page() == 0; }, seconds(5));
  umount(mountPoint.path().c_str());
  ASSERT_TRUE(home);
  ASSERT_EQ(boxes.size(), 1u);
  const LanguageManager& lang = app_->frame().Language();
  EXPECT_EQ(boxes[0].text, lang.GetText(L"STR_STORAGE") + L" 3072 " + lang.GetText(L"STR_MB"));
  EXPECT_EQ(boxes[0].flags, MB_OK);
  EXPECT_EQ(app_->ProgressValue(), 0);
  EXPECT_TRUE(app_->Visible(L"btn_install"));
  for (const std::string& line : server_.RequestLog()) {
    EXPECT_NE(line.find("HEAD "), std::string::npos) << "only the size was asked: " << line;
  }
}

TEST(RedirectProbeTest, FollowsOnlyA302AndHonoursThePort) {
  kvtest::FaultServer server;
  ASSERT_TRUE(server.Start());
  const std::wstring host = L"127.0.0.1:" + std::to_wstring(server.port());
  std::wstring url = Utf8ToWide(server.Url("/redirect"));
  EXPECT_TRUE(CSetupFrameWnd::GetRedirectUrl(
      host, L"redirect?to=http://127.0.0.1:1/setup.exe&code=302", url));
  EXPECT_EQ(url, L"http://127.0.0.1:1/setup.exe");
  for (const char* code : {"301", "307", "200"}) {
    url = L"http://unchanged/";
    EXPECT_FALSE(CSetupFrameWnd::GetRedirectUrl(
        host, Utf8ToWide(std::string("redirect?to=http://127.0.0.1:1/x&code=") + code), url));
    EXPECT_EQ(url, L"http://unchanged/");
  }
  EXPECT_NE(server.Log().find("GET /redirect?to="), std::string::npos);
}

// An https probe speaks TLS (the certificate checked) and will not be sent to plain HTTP.
TEST(RedirectProbeTest, HttpsAsksOverTlsAndRefusesAPlainTarget) {
  kvtest::TempDir dir;
  kvtest::TestCertificates certs;
  ASSERT_TRUE(kvtest::MakeTestCertificates(dir / "certs", {"127.0.0.1"}, certs));
  setenv("SSL_CERT_FILE", certs.caCert.c_str(), 1);
  kvtest::NginxOptions options = kvtest::TlsNginxOptions(dir.path(), certs);
  options.extraServerConfig =
      "location = /to-plain { return 302 http://127.0.0.1:1/setup.exe; }\n"
      "location = /to-secure { return 302 https://127.0.0.1:1/setup.exe; }\n";
  kvtest::NginxServer nginx;
  ASSERT_TRUE(nginx.Start(options));
  const std::wstring host = L"127.0.0.1:" + std::to_wstring(nginx.port());
  std::wstring url = Utf8ToWide(nginx.BaseUrl()) + L"/to-secure";
  EXPECT_TRUE(CSetupFrameWnd::GetRedirectUrl(host, L"to-secure", url));
  EXPECT_EQ(url, L"https://127.0.0.1:1/setup.exe");
  url = Utf8ToWide(nginx.BaseUrl()) + L"/to-plain";
  EXPECT_FALSE(CSetupFrameWnd::GetRedirectUrl(host, L"to-plain", url));
  EXPECT_EQ(url, Utf8ToWide(nginx.BaseUrl()) + L"/to-plain");
  unsetenv("SSL_CERT_FILE");
}

// With a redirecting address configured, the installer comes from where the service points.
TEST_F(InstallFlowTest, DownloadsFromTheRedirectTarget) {
  kvtest::FaultServer redirector;
  ASSERT_TRUE(redirector.Start());
  ASSERT_TRUE(server_.Start());
  server_.AddFile("real.exe", Installer(4096));
  StartApp(server_.Url("missing.exe"),
           {{"STR_DOWN_URLEX",
             redirector.Url("/redirect?to=" + server_.Url("real.exe") + "&code=302&key=pkg_url")}});
  app_->Click(L"btn_install");
  ASSERT_TRUE(WaitForState(kWindow_Installing));
  EXPECT_TRUE(log_->Contains("get redirect Url:" + server_.Url("real.exe")));
  EXPECT_EQ(app_->frame().GetDownloadUrl(), Utf8ToWide(server_.Url("real.exe")));
}

}  // namespace

namespace {

// The installer must be the one the brand's key signed.
class PayloadCheckTest : public apptest::FlowTest {
 protected:
  void SetUp() override {
    FlowTest::SetUp();
    ASSERT_TRUE(server_.Start());
    installer_ = apptest::TestInstallerBytes();
    StartAppWithBoxes();
  }
  void StartAppWithBoxes() {
    StartApp(server_.Url("setup.exe"));
    AnswerBoxes([this](const MessageBoxRequest& box) {
      boxes_.push_back(box);
      return onBox_ ? onBox_() : IDABORT;
    });
  }
  bool InstallerRan() const { return fs::exists(installDir_ / "installer.log"); }
  int InstallerRequests() const {
    int n = 0;
    for (const std::string& line : server_.RequestLog()) {
      if (line.find("GET /download/setup.exe ") != std::string::npos) ++n;
    }
    return n;
  }

  std::string installer_;
  std::vector<MessageBoxRequest> boxes_;
  std::function<int()> onBox_;
};

// A changed byte: the file never runs, nothing of it is kept, and Retry fetches it whole.
TEST_F(PayloadCheckTest, TamperedInstallerIsDeletedAndRetryStartsOver) {
  server_.AddFile("setup.exe", installer_);
  std::string tampered = installer_;
  tampered[tampered.size() / 2] ^= 0x01;
  server_.ReplaceBytes("setup.exe", tampered);
  const std::string installer = WideToLocale(app_->frame().InstallerFile());
  bool leftOver = true, ranBefore = true;
  onBox_ = [&] {
    leftOver =
        fs::exists(installer) || fs::exists(installer + ".tmp") || fs::exists(installer + ".cfg");
    ranBefore = InstallerRan();
    server_.ReplaceBytes("setup.exe", installer_);
    return IDRETRY;
  };
  app_->Click(L"btn_install");
  ASSERT_TRUE(app_->RunUntil([&] { return app_->frame().GetWindowState() == kWindow_Finish; },
                             seconds(30)));
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, NetworkErrorText());
  EXPECT_FALSE(leftOver);
  EXPECT_FALSE(ranBefore);
  EXPECT_TRUE(log_->Contains("the downloaded installer is refused: not the signed one"));
  // Fetched twice, whole: nothing of the first copy was resumed.
  EXPECT_GE(server_.BytesServed(), 2 * static_cast<std::int64_t>(installer_.size()));
  EXPECT_TRUE(InstallerRan());
}

TEST_F(PayloadCheckTest, StatementOfAnotherKeyStopsBeforeTheDownload) {
  apptest::PrivateDir keys;
  std::string error;
  ASSERT_TRUE(integrity::GenerateSigningKey((keys / "other.key").string(), error)) << error;
  server_.AddFile("setup.exe", installer_, keys / "other.key");
  app_->Click(L"btn_install");
  ASSERT_TRUE(app_->RunUntil([&] { return app_->Closed(); }, seconds(30)));
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, NetworkErrorText());
  EXPECT_EQ(InstallerRequests(), 0);
  EXPECT_FALSE(InstallerRan());
}

// A server that serves more than the signed size ends the download with the failure box.
TEST_F(PayloadCheckTest, InstallerOfAnotherSizeFails) {
  server_.AddFile("setup.exe", installer_);
  server_.ReplaceBytes("setup.exe", installer_ + std::string(4096, 'x'));
  app_->Click(L"btn_install");
  ASSERT_TRUE(app_->RunUntil([&] { return app_->Closed(); }, seconds(30)));
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, NetworkErrorText());
  EXPECT_FALSE(InstallerRan());
}

}  // namespace

namespace {

// Behind a proxy (the desktop's, here from http_proxy) every request of the flow goes through
// it: the size query, the statement and the download itself; also with a user and password.
class ProxyFlowTest : public apptest::FlowTest, public ::testing::WithParamInterface<bool> {
 protected:
  void TearDown() override {
    FlowTest::TearDown();
    unsetenv("http_proxy");
  }
};

TEST_P(ProxyFlowTest, WholeFlowThroughSquid) {
  const bool withPassword = GetParam();
  kvtest::SquidProxy squid;
  ASSERT_TRUE(withPassword ? squid.Start("kvuser", "p@ss:word") : squid.Start())
      << "squid (scripts/install-deps.sh)";
  ASSERT_TRUE(server_.Start());
  server_.AddFile("setup.exe", Installer(1 << 20));
  SetEnv("http_proxy", "http://" + std::string(withPassword ? "kvuser:p%40ss%3Aword@" : "") +
                           "127.0.0.1:" + std::to_string(squid.port()));
  StartApp(server_.Url("setup.exe"));
  app_->Click(L"btn_install");
  ASSERT_TRUE(
      app_->RunUntil([&] { return app_->frame().GetWindowState() == kWindow_Finish; }, seconds(60)))
      << squid.Log();
  ASSERT_TRUE(apptest::WaitUntil(
      [&] { return squid.AccessLog().find("setup.exe.sig") != std::string::npos; }, seconds(5)));
  const std::string access = squid.AccessLog();
  const std::string url = server_.Url("setup.exe");
  EXPECT_NE(access.find("HEAD " + url), std::string::npos) << access;
  EXPECT_NE(access.find("GET " + url + ".sig"), std::string::npos) << access;
  EXPECT_NE(access.find("GET " + url + " "), std::string::npos) << access;
  if (withPassword) {
    EXPECT_NE(access.find("kvuser"), std::string::npos) << access;
  }
  // Every request for the installer came through the proxy.
  int direct = 0;
  for (const std::string& line : server_.RequestLog()) {
    if (line.find("/download/setup.exe") != std::string::npos) ++direct;
  }
  EXPECT_GT(direct, 0);
  EXPECT_LE(direct, static_cast<int>(std::count(access.begin(), access.end(), '\n')));
}

INSTANTIATE_TEST_SUITE_P(Proxy, ProxyFlowTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "BasicAuthentication" : "Open";
                         });

}  // namespace
