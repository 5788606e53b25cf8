// The banner images' side of the network: the carousel list, the per-language cache of image
// files named pr_1.png, pr_2.png ... and their digests. Nothing here touches a control; the
// carousel view (BannerCarousel.h) shows what these functions leave in the cache folder.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

// Bound on each image the carousel service sends (its list is bounded by FetchUrlText, 64 KiB).
inline constexpr std::uint64_t kMaxBannerImageBytes = 2 * 1024 * 1024;
// The most images used from a list when the skin has no dots to count.
inline constexpr int kDefaultMaxBannerImages = 10;

// What the banner worker writes for the UI thread. The worker stores the count first and the
// ready flag last (release); the UI thread reads the count only after it saw the flag set.
struct BannerShared {
  std::atomic<int> count{-1};          // images listed (and used); -1: the service gave no list
  std::atomic<int> ready{0};           // 1 once a worker has finished, successfully or not
  std::atomic<bool> abandoned{false};  // the view went away: stop before the next image
};

struct BannerFetchSettings {
  std::wstring carouselUrl;
  std::wstring cacheFolder;  // ends in "/"
  int maxImages = kDefaultMaxBannerImages;
};

// The worker's body, on its own thread: asks the carousel service for the list, keeps each
// cached image whose MD5 matches the listed digest (in any letter case) and downloads the
// others; a download replaces the cached file only when its whole body arrived with status 200
// and is a PNG or JPEG within the toolkit's limits. Entries past maxImages are ignored (and
// logged); cached images past the list are removed. Sets shared.count (when the list came) and
// then shared.ready, whatever happened. Blocks until done.
void FetchBannerImages(const BannerFetchSettings& settings, BannerShared& shared);

// The cache file of image n (counted from 1): cacheFolder + "pr_<n>.png".
std::wstring BannerImagePath(const std::wstring& cacheFolder, int n);

// The file's MD5 digest in lower-case hexadecimal (32 characters), "" on any failure. Any
// thread.
std::string FileMd5(const std::wstring& path);

// Whether two hexadecimal digests are the same, ignoring letter case.
bool SameDigest(const std::string& a, const std::string& b);
