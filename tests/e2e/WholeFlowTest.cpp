// The whole flow as a user goes through it with the real program: Install, the download and
// the installer under the banner, the finish page, Start; in English and in Arabic (mirrored),
// at scale 1 and 2; and behind squid, open and with Basic authentication.
#include <signal.h>

#include <algorithm>

#include "tests/e2e/support/EndToEnd.h"
#include "tests/kvhttp/support/ProxyServers.h"

namespace {

using e2etest::WindowPicture;
using std::chrono::seconds;
namespace fs = std::filesystem;

// Points of the 650 x 360 layout.
constexpr int kInstallX = 325, kInstallY = 207;  // also Start on the finish page

bool Teal(std::uint32_t c) {
  const int r = static_cast<int>(c >> 16), g = static_cast<int>((c >> 8) & 0xFF);
  return g > r + 60;
}

struct Look {
  const char* name;
  const char* locale;
  int scale;
  bool mirrored;
  const char* language;  // as the after-installation page is told
};

class WholeFlowTest : public e2etest::EndToEndTest, public ::testing::WithParamInterface<Look> {
 protected:
  // Ink of a box of the layout (scaled) against the background.
  int InkAt(const WindowPicture& p, int x, int y, int w, int h, std::uint32_t bg) const {
    return p.Ink(x * scale_, y * scale_, w * scale_, h * scale_, bg);
  }
  std::uint32_t PixelAt(const WindowPicture& p, int x, int y) const {
    return p.At(x * scale_, y * scale_);
  }
  // Mirrored layouts put at x what the other puts at 650 - x - w.
  int MirrorX(int x, int w) const { return GetParam().mirrored ? 650 - x - w : x; }

  void CheckHomePage(const WindowPicture& home) {
    const int s = scale_;
    EXPECT_EQ(home.width(), 650 * s);
    EXPECT_EQ(home.height(), 360 * s);
    const std::uint32_t bg = PixelAt(home, 325, 270);
    EXPECT_TRUE(Teal(bg)) << std::hex << bg;
    // The close cross sits in the top corner on the reading side's end, the logo at its start.
    // (Rows above the thin lines beside the logo.)
    EXPECT_GT(InkAt(home, MirrorX(621, 18), 12, 18, 8, bg), 6) << "close";
    EXPECT_EQ(InkAt(home, MirrorX(11, 18), 12, 18, 8, bg), 0) << "nothing opposite the close";
    EXPECT_GT(InkAt(home, MirrorX(52, 26), 8, 26, 28, bg), 50) << "logo";
    EXPECT_EQ(InkAt(home, MirrorX(572, 18), 8, 18, 28, bg), 0) << "nothing opposite the logo";
    // The Install button in the middle, darker than the background.
    EXPECT_NE(PixelAt(home, 250, 195), bg);
  }

  void CheckBannerPage(const WindowPicture& banner) {
    // The white panel at the bottom; the progress bar on the reading side's start, the Hide
    // button at its end.
    EXPECT_EQ(PixelAt(banner, 325, 350), 0xFFFFFFu);
    EXPECT_TRUE(Teal(PixelAt(banner, MirrorX(100, 1), 314))) << "progress bar";
    EXPECT_FALSE(Teal(PixelAt(banner, MirrorX(555, 1), 314))) << "Hide button";
    EXPECT_GT(InkAt(banner, MirrorX(510, 88), 312, 88, 30, 0xFFFFFF), 20) << "Hide button";
  }
};

TEST_P(WholeFlowTest, InstallsAndStartsTheProduct) {
  apptest::DownloadServer server;
  ASSERT_TRUE(server.Start());
  server.AddFile("setup.exe", DemoInstallerBytes());
  UseInstallerUrl(server.Url("setup.exe"));
  ASSERT_TRUE(StartProgram(GetParam().scale, GetParam().locale));
  {
    // The first frame: the window is black until it is drawn.
    auto home = PictureWhen(std::string("home-") + GetParam().name,
                            [&](const WindowPicture& p) { return Teal(PixelAt(p, 325, 270)); });
    ASSERT_TRUE(home->ok());
    CheckHomePage(*home);
  }

  ClickAt(kInstallX, kInstallY);
  ASSERT_TRUE(WaitForLog(e2etest::kInstalling, seconds(30)));
  {
    auto banner = PictureWhen(std::string("installing-") + GetParam().name,
                              [&](const WindowPicture& p) { return !Teal(PixelAt(p, 325, 350)); });
    ASSERT_TRUE(banner->ok());
    CheckBannerPage(*banner);
  }
  ASSERT_TRUE(WaitForLog(e2etest::kFinished, seconds(30)));
  ASSERT_TRUE(opener_.WaitForOpened(1, seconds(10)));
  EXPECT_EQ(opener_.Opened()[0],
            AfterInstallPage() + "&pid=1102&lang=" + GetParam().language + "&custom=com_ru");
  EXPECT_TRUE(ProductInstalled());
  EXPECT_FALSE(fs::exists(InstallerPath()));
  {
    // The finish page: the Start button alone, no agreement line at the bottom.
    auto finish = PictureWhen(std::string("finish-") + GetParam().name,
                              [&](const WindowPicture& p) { return Teal(PixelAt(p, 325, 350)); });
    ASSERT_TRUE(finish->ok());
    const std::uint32_t bg = PixelAt(*finish, 325, 270);
    EXPECT_NE(PixelAt(*finish, 250, 195), bg);
    EXPECT_EQ(InkAt(*finish, 0, 300, 650, 60, bg), 0);
  }

  ClickAt(kInstallX, kInstallY);  // Start
  EXPECT_EQ(app_->WaitExit(), 0) << app_->Output();
  const std::string product = uitest::FindXWindow(display_, "^Korvana Lumenstack$", seconds(10));
  ASSERT_FALSE(product.empty()) << "the product's window";
  const std::string pid = uitest::RunX(display_, "xdotool getwindowpid " + product);
  ASSERT_FALSE(pid.empty());
  kill(std::stoi(pid), SIGTERM);
}

INSTANTIATE_TEST_SUITE_P(Looks, WholeFlowTest,
                         ::testing::Values(Look{"english1x", "en_US.UTF-8", 1, false, "English"},
                                           Look{"arabic1x", "ar_SA.UTF-8", 1, true, "Arabic"},
                                           Look{"english2x", "en_US.UTF-8", 2, false, "English"},
                                           Look{"arabic2x", "ar_SA.UTF-8", 2, true, "Arabic"}),
                         [](const ::testing::TestParamInfo<Look>& info) {
                           return std::string(info.param.name);
                         });

// Behind the desktop's proxy (here http_proxy) the real program installs through squid: the
// statement and the installer came through it, with the user's credentials when it asks.
class ProxiedFlowTest : public e2etest::EndToEndTest, public ::testing::WithParamInterface<bool> {};

TEST_P(ProxiedFlowTest, InstallsThroughSquid) {
  const bool withPassword = GetParam();
  kvtest::SquidProxy squid;
  ASSERT_TRUE(withPassword ? squid.Start("kvuser", "p@ss:word") : squid.Start())
      << "squid (scripts/install-deps.sh)";
  apptest::DownloadServer server;
  ASSERT_TRUE(server.Start());
  server.AddFile("setup.exe", DemoInstallerBytes());
  UseInstallerUrl(server.Url("setup.exe"));
  const std::string proxy = "http://" + std::string(withPassword ? "kvuser:p%40ss%3Aword@" : "") +
                            "127.0.0.1:" + std::to_string(squid.port());
  ASSERT_TRUE(StartProgram(1, "", {{"http_proxy", proxy}}));
  ClickAt(kInstallX, kInstallY);
  ASSERT_TRUE(WaitForLog(e2etest::kFinished, seconds(40))) << squid.Log();
  EXPECT_TRUE(ProductInstalled());
  ASSERT_TRUE(apptest::WaitUntil(
      [&] { return squid.AccessLog().find("setup.exe.sig") != std::string::npos; }, seconds(5)));
  const std::string access = squid.AccessLog();
  const std::string url = server.Url("setup.exe");
  EXPECT_NE(access.find("GET " + url + ".sig"), std::string::npos) << access;
  EXPECT_NE(access.find("GET " + url + " "), std::string::npos) << access;
  if (withPassword) {
    EXPECT_NE(access.find("kvuser"), std::string::npos) << access;
  }
  // Nothing reached the server but through squid.
  int direct = 0;
  for (const std::string& line : server.RequestLog()) {
    if (line.find("/download/setup.exe") != std::string::npos) ++direct;
  }
  EXPECT_GT(direct, 0);
  EXPECT_LE(direct, static_cast<int>(std::count(access.begin(), access.end(), '\n')));
  app_->RequestClose();
  EXPECT_EQ(app_->WaitExit(), 0) << app_->Output();
}

INSTANTIATE_TEST_SUITE_P(Proxy, ProxiedFlowTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "BasicAuthentication" : "Open";
                         });

}  // namespace
