#include "app/BannerFetch.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cwchar>
#include <filesystem>
#include <random>
#include <vector>

#include "analytics/CarouselJson.h"
#include "http/WinHttpRequest.h"
#include "log/Log.h"
#include "sys/SystemInfo.h"
#include "ui/render/ImageProbe.h"

namespace fs = std::filesystem;

namespace {

// Temporary names of images being downloaded: "pr_<n>.png.<random>.part" beside the target.
constexpr wchar_t kPartSuffix[] = L".part";

std::wstring TemporaryPathFor(const std::wstring& path) {
  static thread_local std::mt19937_64 random{std::random_device{}()};
  wchar_t suffix[24];
  std::swprintf(suffix, sizeof suffix / sizeof suffix[0], L".%016llx",
                static_cast<unsigned long long>(random()));
  return path + suffix + kPartSuffix;
}

void RemoveQuietly(const std::wstring& path) {
  std::error_code ec;
  fs::remove(fs::path(WideToLocale(path)), ec);
}

// Downloads `url` into `path`: the body goes to a new temporary file beside it, which replaces
// `path` only when the whole body came with status 200 and is a picture the toolkit may show.
bool DownloadBannerImage(const std::string& url, const std::wstring& path) {
  CWinHttpRequest request;
  if (!request.OpenUrl(Utf8ToWide(url))) return false;
  int status = 0;
  if (!request.GetStatusCode(&status) || status != 200) {
    LOGA(LogLevelInfo, "image answer status %d, url[%s].", status, url.c_str());
    return false;
  }
  const std::wstring temporary = TemporaryPathFor(path);
  bool ok = request.SaveBodyToFile(temporary, kMaxBannerImageBytes);
  if (ok && SkinUI::ProbeImageFile(WideToLocale(temporary), kMaxBannerImageBytes).kind ==
                SkinUI::ImageKind::kNone) {
    LOGA(LogLevelInfo, "image is not a whole PNG or JPEG picture, url[%s].", url.c_str());
    ok = false;
  }
  if (ok) {
    std::error_code ec;
    fs::rename(fs::path(WideToLocale(temporary)), fs::path(WideToLocale(path)), ec);
    ok = !ec;
  }
  if (!ok) RemoveQuietly(temporary);
  return ok;
}

// The number n of a cache file named "pr_<n>.png", 0 for any other name.
int CachedImageNumber(const std::string& name) {
  if (name.size() < 8 || name.rfind("pr_", 0) != 0 ||
      name.compare(name.size() - 4, 4, ".png") != 0) {
    return 0;
  }
  const std::string digits = name.substr(3, name.size() - 7);
  if (digits.empty() || digits.size() > 6 ||
      !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return 0;
  }
  return std::stoi(digits);
}

// Removes the images the list no longer names (an offline run must not show them) and the
// leftovers of downloads that never finished.
void TidyCacheFolder(const std::wstring& folder, int count) {
  std::error_code ec;
  const std::string partSuffix = WideToLocale(kPartSuffix);
  for (fs::directory_iterator it(fs::path(WideToLocale(folder)), ec), end; !ec && it != end;
       it.increment(ec)) {
    const std::string name = it->path().filename().string();
    const bool partial =
        name.rfind("pr_", 0) == 0 && name.size() > partSuffix.size() &&
        name.compare(name.size() - partSuffix.size(), partSuffix.size(), partSuffix) == 0;
    if (partial || CachedImageNumber(name) > count) {
      std::error_code removeError;
      fs::remove(it->path(), removeError);
    }
  }
}

}  // namespace

std::wstring BannerImagePath(const std::wstring& cacheFolder, int n) {
  return cacheFolder + L"pr_" + std::to_wstring(n) + L".png";
}

std::string FileMd5(const std::wstring& path) {
  std::FILE* file = std::fopen(WideToLocale(path).c_str(), "rbe");
  if (file == nullptr) return "";
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  bool ok = context != nullptr && EVP_DigestInit_ex(context, EVP_md5(), nullptr) == 1;
  unsigned char block[4096];
  while (ok) {
    const std::size_t n = std::fread(block, 1, sizeof block, file);
    if (n > 0) ok = EVP_DigestUpdate(context, block, n) == 1;
    if (n < sizeof block) {
      ok = ok && std::ferror(file) == 0;  // a folder, for one, fails to read
      break;
    }
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  ok = ok && EVP_DigestFinal_ex(context, digest, &length) == 1 && length == 16;
  EVP_MD_CTX_free(context);
  std::fclose(file);
  if (!ok) return "";
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) {
    hex += kHex[digest[i] >> 4];
    hex += kHex[digest[i] & 0x0F];
  }
  return hex;
}

bool SameDigest(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

void FetchBannerImages(const BannerFetchSettings& settings, BannerShared& shared) {
  LOGA(LogLevelInfo, "get image start.");
  CarouselResult result;
  std::vector<ImageInfo> images;
  ParseCarouselResponse(result, images, FetchUrlText(settings.carouselUrl));
  if (result.code == 1) {
    const int limit = std::max(0, settings.maxImages);
    if (images.size() > static_cast<std::size_t>(limit)) {
      LOGA(LogLevelInfo, "carousel lists %zu images, the first %d are used.", images.size(), limit);
      images.resize(static_cast<std::size_t>(limit));
    }
    const int count = static_cast<int>(images.size());
    if (count > 0) CreateFolderTree(settings.cacheFolder);
    for (int n = 1; n <= count && !shared.abandoned.load(); ++n) {
      const ImageInfo& image = images[static_cast<std::size_t>(n - 1)];
      const std::wstring path = BannerImagePath(settings.cacheFolder, n);
      if (FileExists(path) && SameDigest(FileMd5(path), image.md5)) continue;
      if (!DownloadBannerImage(image.url, path)) {
        LOGA(LogLevelInfo, "download image failed, url[%s], filePath[%s].", image.url.c_str(),
             WideToUtf8(path).c_str());
      }
    }
    if (!shared.abandoned.load()) TidyCacheFolder(settings.cacheFolder, count);
    shared.count.store(count);
  }
  shared.ready.store(1, std::memory_order_release);
  LOGA(LogLevelInfo, "get image finished.");
}
