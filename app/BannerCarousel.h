// The banner carousel of the progress page: the images of the per-language cache shown in
// turn every five seconds on the control "banner", with the dots "option_0" ... of
// "buttonLayout" to jump to one. A worker fills the cache (BannerFetch.h); the view waits for
// it on a one-second timer, then sets up the dots and starts the rotation.
//
// Threads: everything here runs on the UI thread except the worker, which only writes files
// and the shared count and ready flag. The window's timers arrive as WM_TIMER in the window,
// which hands them to OnTimer.
#pragma once

#include <memory>
#include <string>

#include "app/BannerFetch.h"

namespace SkinUI {
class CControlUI;
class SkinWindowBase;
}  // namespace SkinUI

class CBannerCarousel {
 public:
  // The window's timer ids (the same numbers as the window's own names for them) and periods.
  static constexpr int kTimerBannerRotate = 11;
  static constexpr int kTimerBannerReady = 13;
  static constexpr unsigned kBannerRotateMs = 5000;
  static constexpr unsigned kBannerReadyMs = 1000;

  // workFolder ends in "/"; the cache folder is workFolder + "language/" + language + "/".
  // The window must outlive this object.
  CBannerCarousel(SkinUI::SkinWindowBase& window, std::wstring workFolder, std::wstring language,
                  std::wstring carouselUrl);
  // Stops both timers. Safe while a fetch worker still runs: the worker keeps the state it
  // shares and stops before its next image.
  ~CBannerCarousel();
  CBannerCarousel(const CBannerCarousel&) = delete;
  CBannerCarousel& operator=(const CBannerCarousel&) = delete;

  // Starts a detached fetch worker and kTimerBannerReady. A later call starts another worker
  // and restarts the timer; the ready flag stays set, so the dots come back at once with the
  // count known so far.
  void StartFetch();
  // kTimerBannerRotate and kTimerBannerReady; true when `id` was one of them.
  bool OnTimer(int id);
  // A click on a control carrying "imageIndex" (a dot); true when it was one.
  bool OnClick(SkinUI::CControlUI* control);
  // Stops the rotation and the wait for the worker (the installation has finished).
  void StopRotation();

  // The tick of kTimerBannerReady once the worker has finished: shows the dots of the listed
  // images (at most as many as the skin has), the first image, and starts the rotation.
  void SetUpBannerDots();
  // Shows image n (counted from 1) when it is listed (or, without a list, cached) and its file
  // exists; selects its dot. False when it cannot be shown.
  bool ShowBannerImage(int n);
  // The tick of kTimerBannerRotate: the next image, or image 1 after the last.
  void ShowNextBannerImage();
  // The number of the image shown, 0 before the first.
  int GetBannerIndex() const { return bannerIndex_; }
  const std::wstring& GetCacheFolder() const { return cacheFolder_; }

 private:
  void OnBannerDotClick(SkinUI::CControlUI* dot);
  int BannerCount() const;
  // The dots "option_0" ... the skin has, in a row from 0.
  int CountSkinDots() const;

  SkinUI::SkinWindowBase& window_;
  std::wstring cacheFolder_;
  std::wstring carouselUrl_;
  int maxImages_ = kDefaultMaxBannerImages;
  int bannerIndex_ = 0;
  std::shared_ptr<BannerShared> shared_;
};
