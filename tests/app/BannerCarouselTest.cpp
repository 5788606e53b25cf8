#include "app/BannerCarousel.h"

#include <cairo.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include "tests/app/support/CarouselService.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/controls/Option.h"
#include "ui/controls/TabLayout.h"

namespace {
namespace fs = std::filesystem;
using bannertest::BannerBytes;
using bannertest::CarouselService;
using namespace std::chrono_literals;
constexpr int kTimerBannerRotate = CBannerCarousel::kTimerBannerRotate;
constexpr int kTimerBannerReady = CBannerCarousel::kTimerBannerReady;

// The skinned window with the carousel wired in as the installer's window wires it: timer
// messages and clicks are handed to it first.
class BannerWindow : public uitest::RecordingWindow {
 public:
  BannerWindow() : RecordingWindow(SkinUI::UILIB_ZIPRESOURCE, L"", L"skin.xml") {}
  SkinUI::LRESULT HandleCustomMessage(SkinUI::UINT msg, SkinUI::WPARAM wParam,
                                      SkinUI::LPARAM lParam, bool& handled) override {
    if (msg == SkinUI::WM_TIMER && carousel != nullptr &&
        carousel->OnTimer(static_cast<int>(wParam))) {
      handled = true;
      return 0;
    }
    return RecordingWindow::HandleCustomMessage(msg, wParam, lParam, handled);
  }
  CBannerCarousel* carousel = nullptr;

 protected:
  void OnClick(SkinUI::TNotifyUI& msg) override {
    if (carousel != nullptr) carousel->OnClick(msg.pSender);
    RecordingWindow::OnClick(msg);
  }
};

class BannerCarouselTest : public ::testing::Test {
 protected:
  void SetUp() override {
    logStart_ = bannertest::LogText().size();
    window_ = std::make_unique<BannerWindow>();
    ASSERT_TRUE(window_->Create(L"KVDownloader")) << window_->loadError;
    // The progress page, where the banner shows.
    Find<SkinUI::CTabLayoutUI>(L"switch")->SelectItem(1, SkinUI::Notification::kSilent);
    pm().EnsureLayout();
    backend().UseManualClock();
    defaultBanner_ = Find(L"banner")->GetBkImage();
  }
  void TearDown() override {
    window_->carousel = nullptr;
    carousel_.reset();
    // Workers outliving their test would write into the next one's log.
    EXPECT_TRUE(WaitForWorkersToEnd());
  }

  SkinUI::CHeadlessBackend& backend() { return scope_.backend(); }
  SkinUI::CPaintManagerUI& pm() { return window_->GetPaintManager(); }
  SkinUI::CHeadlessWindow& host() { return window_->host(); }
  template <typename T = SkinUI::CControlUI>
  T* Find(const std::wstring& name) {
    auto* c = dynamic_cast<T*>(pm().FindControl(name));
    EXPECT_NE(c, nullptr) << std::string(name.begin(), name.end());
    return c;
  }
  fs::path CacheOf(const std::string& language) { return work_ / "language" / language; }

  void StartCarousel(const std::wstring& url, const std::wstring& language = L"English") {
    carousel_ = std::make_unique<CBannerCarousel>(*window_, bannertest::FolderOf(work_.path()),
                                                  language, url);
    window_->carousel = carousel_.get();
    StartFetch();
  }
  void StartFetch() {
    carousel_->StartFetch();
    ++workers_;
  }
  bool WaitForWorkersToEnd() {
    const auto end = std::chrono::steady_clock::now() + 15s;
    while (Count(bannertest::LogText().substr(logStart_), "get image finished.") < workers_) {
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(10ms);
    }
    return true;
  }
  static int Count(const std::string& text, const std::string& what) {
    int n = 0;
    for (auto p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
    return n;
  }
  // Lets the one-second ready timer tick until the worker is done and the dots are set up.
  bool WaitForSetUp() {
    const auto end = std::chrono::steady_clock::now() + 15s;
    while (host().HasTimer(kTimerBannerReady)) {
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(10ms);
      backend().AdvanceClock(1000ms);
    }
    pm().EnsureLayout();
    return true;
  }
  // The image number the banner shows, 0 for anything but a cached image.
  int Shown() {
    const std::wstring& image = Find(L"banner")->GetBkImage();
    const std::wstring folder = bannertest::FolderOf(CacheOf(language_));
    if (image.rfind(folder + L"pr_", 0) != 0) return 0;
    return std::stoi(image.substr(folder.size() + 3));
  }
  // The selected dot's number (from 0), -1 when none is.
  int SelectedDot() {
    for (int k = 0; k < 10; ++k) {
      if (Find<SkinUI::COptionUI>(L"option_" + std::to_wstring(k))->IsSelected()) return k;
    }
    return -1;
  }
  std::vector<int> VisibleDots() {
    std::vector<int> visible;
    for (int k = 0; k < 10; ++k) {
      if (Find(L"option_" + std::to_wstring(k))->IsVisible()) visible.push_back(k);
    }
    return visible;
  }
  void ClickDot(int k) {
    pm().EnsureLayout();
    SkinUI::UiPoint p = uitest::Centre(Find(L"option_" + std::to_wstring(k)));
    host().Click(p.x, p.y);
  }
  // Copies of the demo banners in the cache, as an earlier run left them.
  void CacheImages(const std::string& language, int count) {
    for (int n = 1; n <= count; ++n) {
      kvtest::WriteFile(CacheOf(language) / ("pr_" + std::to_string(n) + ".png"),
                        BannerBytes((n - 1) % 3 + 1));
    }
  }
  std::wstring UnreachableUrl() {
    return L"http://127.0.0.1:" + std::to_wstring(kvtest::FreePort()) +
           L"/downloader/carousel?pid=1102&lang=English";
  }

  uitest::HeadlessScope scope_;
  kvtest::TempDir work_;
  CarouselService service_;
  std::unique_ptr<BannerWindow> window_;
  std::unique_ptr<CBannerCarousel> carousel_;
  std::wstring defaultBanner_;
  std::string language_ = "English";
  std::size_t logStart_ = 0;
  int workers_ = 0;
};

TEST_F(BannerCarouselTest, ThreeImagesRotateWithTheirDots) {
  ASSERT_TRUE(service_.Start());
  StartCarousel(service_.CarouselUrl());
  EXPECT_EQ(1000u, host().GetTimerInterval(kTimerBannerReady));
  ASSERT_TRUE(WaitForSetUp());
  EXPECT_TRUE(Find(L"buttonLayout")->IsVisible());
  EXPECT_EQ(std::vector<int>({0, 1, 2}), VisibleDots());
  for (int k = 0; k < 10; ++k) {
    const std::wstring* index =
        Find(L"option_" + std::to_wstring(k))->GetCustomAttribute(L"imageIndex");
    ASSERT_NE(index, nullptr);
    EXPECT_EQ(std::to_wstring(k + 1), *index);
  }
  EXPECT_EQ(1, Shown());
  EXPECT_EQ(0, SelectedDot());
  EXPECT_EQ(5000u, host().GetTimerInterval(kTimerBannerRotate));
  // Every five seconds the next one, then the first again.
  for (int expected : {2, 3, 1, 2}) {
    const int before = Shown();
    backend().AdvanceClock(4999ms);
    EXPECT_EQ(before, Shown());
    backend().AdvanceClock(1ms);
    EXPECT_EQ(expected, Shown());
    EXPECT_EQ(expected - 1, SelectedDot());
  }
  carousel_->StopRotation();
  EXPECT_FALSE(host().HasTimer(kTimerBannerRotate));
  backend().AdvanceClock(20s);
  EXPECT_EQ(2, Shown());
}

TEST_F(BannerCarouselTest, DotClickShowsItsImageAndRestartsTheFiveSeconds) {
  ASSERT_TRUE(service_.Start());
  StartCarousel(service_.CarouselUrl());
  ASSERT_TRUE(WaitForSetUp());
  ASSERT_EQ(1, Shown());
  backend().AdvanceClock(2000ms);
  ClickDot(2);
  EXPECT_EQ(3, Shown());
  EXPECT_EQ(2, SelectedDot());
  // Not three seconds after the click (when the old period would end), but five.
  backend().AdvanceClock(4999ms);
  EXPECT_EQ(3, Shown());
  backend().AdvanceClock(1ms);
  EXPECT_EQ(1, Shown());
  // The dot of the image shown changes nothing, not even the time of the next change.
  backend().AdvanceClock(3000ms);
  ClickDot(0);
  EXPECT_EQ(1, Shown());
  backend().AdvanceClock(2000ms);
  EXPECT_EQ(2, Shown());
  EXPECT_EQ(1, SelectedDot());
}

TEST_F(BannerCarouselTest, TwelveListedRotateTheFirstTenWithTenDots) {
  ASSERT_TRUE(service_.Start({"--list", "12"}));
  StartCarousel(service_.CarouselUrl());
  ASSERT_TRUE(WaitForSetUp());
  EXPECT_EQ(std::vector<int>({0, 1, 2, 3, 4, 5, 6, 7, 8, 9}), VisibleDots());
  std::vector<int> seen = {Shown()};
  for (int i = 0; i < 10; ++i) {
    backend().AdvanceClock(5000ms);
    seen.push_back(Shown());
    EXPECT_EQ(Shown() - 1, SelectedDot());
  }
  EXPECT_EQ(std::vector<int>({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 1}), seen);
}

TEST_F(BannerCarouselTest, OfflineRunShowsTheCachedImages) {
  CacheImages("English", 3);
  StartCarousel(UnreachableUrl());
  ASSERT_TRUE(WaitForSetUp());
  // No list: no dots, but every cached image in turn.
  EXPECT_FALSE(Find(L"buttonLayout")->IsVisible());
  std::vector<int> seen = {Shown()};
  for (int i = 0; i < 4; ++i) {
    backend().AdvanceClock(5000ms);
    seen.push_back(Shown());
  }
  EXPECT_EQ(std::vector<int>({1, 2, 3, 1, 2}), seen);
}

TEST_F(BannerCarouselTest, NothingCachedKeepsTheSkinsBanner) {
  // Images of another language do not count.
  CacheImages("English", 3);
  language_ = "German";
  StartCarousel(UnreachableUrl(), L"German");
  ASSERT_TRUE(WaitForSetUp());
  backend().AdvanceClock(5000ms);
  EXPECT_EQ(0, Shown());
  EXPECT_EQ(defaultBanner_, Find(L"banner")->GetBkImage());
}

TEST_F(BannerCarouselTest, ReadyTimerWaitsForTheWorker) {
  ASSERT_TRUE(service_.Start({"--stall", "2"}));
  StartCarousel(service_.CarouselUrl());
  for (int i = 0; i < 3; ++i) backend().AdvanceClock(1000ms);
  EXPECT_TRUE(host().HasTimer(kTimerBannerReady));
  EXPECT_FALSE(host().HasTimer(kTimerBannerRotate));
  EXPECT_EQ(0, Shown());
  ASSERT_TRUE(WaitForSetUp());
  EXPECT_EQ(1, Shown());
  // A second start (the user installs again) sets the dots up at once, while the new worker
  // still waits for its answer.
  StartFetch();
  backend().AdvanceClock(1000ms);
  EXPECT_FALSE(host().HasTimer(kTimerBannerReady));
  EXPECT_EQ(2, Shown());
  EXPECT_EQ(1, SelectedDot());
}

TEST_F(BannerCarouselTest, GoingAwayWhileTheWorkerRunsIsSafe) {
  ASSERT_TRUE(service_.Start({"--stall", "1"}));
  StartCarousel(service_.CarouselUrl());
  window_->carousel = nullptr;
  carousel_.reset();
  EXPECT_FALSE(host().HasTimer(kTimerBannerReady));
  // The worker ends on its own and stops before fetching any image.
  ASSERT_TRUE(WaitForWorkersToEnd());
  EXPECT_EQ(1u, service_.Requests().size());
  EXPECT_TRUE(service_.ImageRequests().empty());
}

TEST_F(BannerCarouselTest, TheScreenShowsTheBannerAndItsDots) {
  ASSERT_TRUE(service_.Start());
  StartCarousel(service_.CarouselUrl());
  ASSERT_TRUE(WaitForSetUp());
  backend().AdvanceClock(5000ms);
  ASSERT_EQ(2, Shown());
  cairo_surface_t* shot = host().Render();
  if (const char* folder = std::getenv("KV_TEST_SCREENSHOTS")) {
    cairo_surface_write_to_png(shot, (fs::path(folder) / "banner-carousel.png").c_str());
  }
  const fs::path expectedFile = work_ / "expected.png";
  kvtest::WriteFile(expectedFile, BannerBytes(2));
  cairo_surface_t* expected = cairo_image_surface_create_from_png(expectedFile.c_str());
  ASSERT_EQ(CAIRO_STATUS_SUCCESS, cairo_surface_status(expected));
  auto pixel = [](cairo_surface_t* s, int x, int y) {
    const unsigned char* row =
        cairo_image_surface_get_data(s) + y * cairo_image_surface_get_stride(s);
    std::uint32_t v;
    std::memcpy(&v, row + x * 4, 4);
    return v & 0xFFFFFF;
  };
  const SkinUI::UiRect banner = Find(L"banner")->GetPos();
  // Points on the plates, the glow and the dark sky of the second banner, clear of the dots.
  for (auto [x, y] : {std::pair{130, 214}, {448, 96}, {40, 40}, {600, 120}, {338, 150}}) {
    EXPECT_EQ(pixel(expected, x, y), pixel(shot, banner.left + x, banner.top + y)) << x << "," << y;
  }
  // The selected dot is drawn differently from the others.
  const SkinUI::UiRect dot1 = Find(L"option_1")->GetPos();
  const SkinUI::UiRect dot0 = Find(L"option_0")->GetPos();
  const int cy = (dot1.top + dot1.bottom) / 2;
  EXPECT_NE(pixel(shot, (dot1.left + dot1.right) / 2, cy),
            pixel(shot, (dot0.left + dot0.right) / 2, cy));
  cairo_surface_destroy(expected);
  cairo_surface_destroy(shot);
}

}  // namespace
