#include "config/EmbeddedPackages.h"

#include <cstring>

#include "config/Ini.h"
#include "config/LanguageManager.h"
#include "config/ZipExtract.h"
#include "log/Log.h"
#include "platform/Resources.h"
#include "sys/SystemInfo.h"

namespace {

// The domain code is copied into a zero-filled 256-byte buffer, so its text ends at 254 bytes.
constexpr std::size_t kDomainTextLimit = 254;

std::string DomainRawText(std::string_view raw) {
  std::string text(raw.substr(0, kDomainTextLimit));
  std::size_t zero = text.find('\0');
  if (zero != std::string::npos) text.resize(zero);
  return text;
}

}  // namespace

bool LoadResZipFile(const std::wstring& languageFolder) {
  LOGA(LogLevelInfo, "LoadResZipFile");
  platform::ResourceBytes res =
      platform::FindResource(platform::kResTypeRcData, platform::kResIdLanguage);
  if (!res) {
    LOGA(LogLevelInfo, "LoadResZipFile: no language package in this executable");
    return false;
  }
  return ExtractZipToFolder(res.data, res.size, languageFolder);
}

std::wstring DomainTextToCustom(std::string_view raw) {
  return ReplaceAll(LocaleToWide(DomainRawText(raw)), L"\r\n", L"");
}

bool LoadDomainFile(LanguageManager& manager) {
  LOGA(LogLevelInfo, "LoadDomainFile");
  platform::ResourceBytes res =
      platform::FindResource(platform::kResTypeRcData, platform::kResIdDomain);
  if (!res) {
    LOGA(LogLevelInfo, "LoadDomainFile: no domain code in this executable");
    return false;
  }
  std::string_view raw(reinterpret_cast<const char*>(res.data), res.size);
  manager.SetCustom(DomainTextToCustom(raw));
  LOGA(LogLevelInfo, "Domain:%s", DomainRawText(raw).c_str());
  return true;
}
