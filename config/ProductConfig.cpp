// The product and URL half of LanguageManager.
#include <string_view>

#include "config/BrandConstants.h"
#include "config/Ini.h"
#include "config/LanguageManager.h"
#include "platform/Resources.h"
#include "platform/profile/Profile.h"
#include "sys/SystemInfo.h"

namespace {

std::wstring ValueOf(const std::map<std::wstring, std::wstring>& table, const std::wstring& key) {
  auto it = table.find(key);
  return it == table.end() ? std::wstring() : it->second;
}

}  // namespace

void LanguageManager::LoadProductInfo() {
  ReadIniSection(folder_ + L"productInfo.ini", L"PRODUCT", product_);
}

void LanguageManager::LoadUrlConfig() {
  platform::ResourceBytes res =
      platform::FindResource(platform::kResTypeRcData, platform::kResIdUrlConfig);
  if (!res || res.size == 0) return;
  LoadUrlConfigFrom(res.data, res.size);
}

void LanguageManager::LoadUrlConfigFrom(const unsigned char* data, std::size_t size) {
  if (data == nullptr || size == 0) return;
  std::wstring text =
      platform::DecodeUtf16(std::string_view(reinterpret_cast<const char*>(data), size),
                            platform::ByteOrder::kLittleEndian);
  if (!text.empty() && (text.front() == 0xFEFF || text.front() == 0xFFFE)) text.erase(0, 1);

  IniSections sections = ParseIniText(text);
  auto common = sections.find(L"CommonUrl");
  urls_ = common == sections.end() ? IniSection() : common->second;

  const std::wstring suffix = L"&pid=" + GetProductValue(L"STR_PID") + L"&lang=" + language_;
  for (const wchar_t* key : {L"STR_LICENCE_URL", L"STR_INSTALL_URL", L"STR_DOWN_URLEX"}) {
    auto it = urls_.find(key);
    if (it != urls_.end()) it->second += suffix;
  }

  // A language's own links are complete as written.
  auto own = sections.find(language_);
  if (own != sections.end()) {
    for (const auto& [key, value] : own->second) {
      if (!value.empty()) urls_[key] = value;
    }
  }
}

std::wstring LanguageManager::GetProductValue(const std::wstring& key) const {
  return ValueOf(product_, key);
}

std::wstring LanguageManager::GetUrlValue(const std::wstring& key) const {
  return ValueOf(urls_, key);
}

std::wstring LanguageManager::GetProductName() const {
  return GetProductValue(L"STR_PRODUCT_NAME");
}
std::wstring LanguageManager::GetGATitle() const {
  return GetProductValue(L"STR_GA_TTTLE");
}
std::wstring LanguageManager::GetLicenceColor() const {
  return GetProductValue(L"STR_LISENCE_COLOR");
}
std::wstring LanguageManager::GetExeName() const {
  return GetProductValue(L"STR_EXE_NAME");
}

std::wstring LanguageManager::GetBrandName() const {
  std::wstring brand = GetProductValue(L"STR_BRAND_NAME");
  return brand.empty() ? std::wstring(brand::kDefaultBrandName) : brand;
}

std::wstring LanguageManager::GetInstallSubDir() const {
  std::wstring dir;
  for (const wchar_t* key : {L"STR_DIR1_NAME", L"STR_DIR2_NAME"}) {
    std::wstring name = GetProductValue(key);
    if (!name.empty()) dir += name + L"/";
  }
  return dir;
}

std::wstring LanguageManager::GetExeRelativePath() const {
  return GetInstallSubDir() + GetExeName();
}

bool LanguageManager::IsRunAsAdmin() const {
  return GetProductValue(L"STR_RUN_AS_ADMIN") != L"0";
}

std::wstring LanguageManager::GetDownloadUrl() const {
  return GetUrlValue(Is64BitSystem() ? L"STR_DOWN_URL_X64" : L"STR_DOWN_URL");
}

std::wstring LanguageManager::GetDownloadUrlEx() const {
  std::wstring url = GetUrlValue(L"STR_DOWN_URLEX");
  return url.empty() ? url : AppendCustom(url);
}

std::wstring LanguageManager::GetInstallUrl() const {
  return AppendCustom(GetUrlValue(L"STR_INSTALL_URL"));
}

std::wstring LanguageManager::GetLicenceUrl() const {
  return AppendCustom(GetUrlValue(L"STR_LICENCE_URL"));
}

std::wstring LanguageManager::GetCarouselUrl() const {
  return std::wstring(brand::kCarouselScheme) + L"://" + brand::kCarouselHost +
         L"/downloader/carousel?pid=" + GetProductValue(L"STR_PID") + L"&lang=" + language_;
}

std::wstring LanguageManager::GetAnalyticsUrl() const {
  return brand::kAnalyticsUrl;
}

std::wstring LanguageManager::AppendCustom(const std::wstring& url) const {
  if (url.empty() || custom_.empty()) return url;
  if (url.find(L"key=") == std::wstring::npos) return url;
  return url + L"&custom=" + custom_;
}
