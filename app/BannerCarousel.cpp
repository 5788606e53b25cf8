#include "app/BannerCarousel.h"

#include <system_error>
#include <thread>

#include "log/Log.h"
#include "sys/SystemInfo.h"
#include "ui/controls/Option.h"
#include "ui/window/SkinWindowBase.h"

namespace {

// The skin may hold at most this many dots; the search stops at the first one missing.
constexpr int kMaxSkinDots = 20;

std::wstring DotName(int k) {
  return L"option_" + std::to_wstring(k);
}

// The image number a dot carries, 0 when the text is not a plain positive number.
int ImageIndexOf(const std::wstring& text) {
  if (text.empty() || text.size() > 9) return 0;
  int n = 0;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') return 0;
    n = n * 10 + static_cast<int>(c - L'0');
  }
  return n;
}

}  // namespace

CBannerCarousel::CBannerCarousel(SkinUI::SkinWindowBase& window, std::wstring workFolder,
                                 std::wstring language, std::wstring carouselUrl)
    : window_(window),
      cacheFolder_(std::move(workFolder) + L"language/" + language + L"/"),
      carouselUrl_(std::move(carouselUrl)),
      shared_(std::make_shared<BannerShared>()) {}

CBannerCarousel::~CBannerCarousel() {
  shared_->abandoned.store(true);
  window_.KillTimer(kTimerBannerRotate);
  window_.KillTimer(kTimerBannerReady);
}

int CBannerCarousel::CountSkinDots() const {
  SkinUI::CControlUI* layout = window_.FindControl(L"buttonLayout");
  if (layout == nullptr) return 0;
  int k = 0;
  while (k < kMaxSkinDots &&
         dynamic_cast<SkinUI::COptionUI*>(window_.FindSubControl(layout, DotName(k))) != nullptr) {
    ++k;
  }
  return k;
}

void CBannerCarousel::StartFetch() {
  const int dots = CountSkinDots();
  maxImages_ = dots > 0 ? dots : kDefaultMaxBannerImages;
  BannerFetchSettings settings{carouselUrl_, cacheFolder_, maxImages_};
  // The worker holds the shared state itself, so this object may go first.
  try {
    std::thread([settings = std::move(settings), shared = shared_] {
      FetchBannerImages(settings, *shared);
    }).detach();
  } catch (const std::system_error&) {
    // Without a worker the cache of an earlier run is what there is.
    LOGA(LogLevelInfo, "banner worker could not start.");
    shared_->ready.store(1, std::memory_order_release);
  }
  window_.SetTimer(kTimerBannerReady, kBannerReadyMs);
}

bool CBannerCarousel::OnTimer(int id) {
  if (id == kTimerBannerRotate) {
    ShowNextBannerImage();
    return true;
  }
  if (id == kTimerBannerReady) {
    // Until the worker is done the tick is ignored and the timer keeps running.
    if (shared_->ready.load(std::memory_order_acquire) == 1) SetUpBannerDots();
    return true;
  }
  return false;
}

int CBannerCarousel::BannerCount() const {
  return shared_->count.load();
}

void CBannerCarousel::SetUpBannerDots() {
  window_.KillTimer(kTimerBannerReady);
  const int count = BannerCount();
  SkinUI::CControlUI* layout = window_.FindControl(L"buttonLayout");
  if (count > 1 && layout != nullptr) {
    layout->SetVisible(true);
    for (int k = 0; k < kMaxSkinDots; ++k) {
      auto* dot = dynamic_cast<SkinUI::COptionUI*>(window_.FindSubControl(layout, DotName(k)));
      if (dot == nullptr) break;
      dot->SetVisible(k < count);
      dot->SetCustomAttribute(L"imageIndex", std::to_wstring(k + 1));
    }
  }
  if (!ShowBannerImage(bannerIndex_ + 1)) ShowBannerImage(1);
  window_.SetTimer(kTimerBannerRotate, kBannerRotateMs);
}

bool CBannerCarousel::ShowBannerImage(int n) {
  SkinUI::CControlUI* banner = window_.FindControl(L"banner");
  if (banner == nullptr) return false;
  const int count = BannerCount();
  if (n < 1 || n > maxImages_ || (count != -1 && count < n)) return false;
  const std::wstring path = BannerImagePath(cacheFolder_, n);
  if (!FileExists(path)) return false;
  SkinUI::CControlUI* layout = window_.FindControl(L"buttonLayout");
  SkinUI::CControlUI* found = layout != nullptr ? window_.FindSubControl(layout, DotName(n - 1))
                                                : window_.FindControl(DotName(n - 1));
  auto* dot = dynamic_cast<SkinUI::COptionUI*>(found);
  if (dot != nullptr && dot->IsVisible()) dot->Selected(true, SkinUI::Notification::kSilent);
  bannerIndex_ = n;
  banner->SetBkImage(path);
  return true;
}

void CBannerCarousel::ShowNextBannerImage() {
  if (!ShowBannerImage(bannerIndex_ + 1)) ShowBannerImage(1);
}

bool CBannerCarousel::OnClick(SkinUI::CControlUI* control) {
  if (control == nullptr || control->GetCustomAttribute(L"imageIndex") == nullptr) return false;
  OnBannerDotClick(control);
  return true;
}

void CBannerCarousel::OnBannerDotClick(SkinUI::CControlUI* dot) {
  const int n = ImageIndexOf(*dot->GetCustomAttribute(L"imageIndex"));
  if (n == bannerIndex_) return;
  // The next change comes a full period after the click.
  window_.KillTimer(kTimerBannerRotate);
  if (!ShowBannerImage(n)) {
    LOGA(LogLevelInfo, "banner image %d cannot be shown.", n);
    // The click selected its dot; the image shown takes its own back.
    if (bannerIndex_ > 0) ShowBannerImage(bannerIndex_);
  }
  window_.SetTimer(kTimerBannerRotate, kBannerRotateMs);
}

void CBannerCarousel::StopRotation() {
  window_.KillTimer(kTimerBannerRotate);
  window_.KillTimer(kTimerBannerReady);
}
