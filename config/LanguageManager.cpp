#include "config/LanguageManager.h"

#include "config/Ini.h"
#include "config/LanguageTables.h"
#include "log/Log.h"
#include "sys/SystemInfo.h"

void LanguageManager::Reset(const std::wstring& folder) {
  strings_.clear();
  urls_.clear();
  product_.clear();
  folder_ = folder;
  // File names are appended directly, so the folder must end in a separator.
  if (!folder_.empty() && folder_.back() != L'/') folder_ += L'/';
  language_.clear();
  custom_.clear();
  rightToLeft_ = false;
}

void LanguageManager::Init(const std::wstring& folder) {
  Init(folder, GetUiLanguageId());
}

void LanguageManager::Init(const std::wstring& folder, const std::wstring& uiLanguageId) {
  Reset(folder);
  InitCurrentLanguage(uiLanguageId);
  LoadProductInfo();
  // The URL completion needs the language and the product id, the texts the product values.
  LoadUrlConfig();
  LoadTextTable();
}

void LanguageManager::InitCurrentLanguage() {
  InitCurrentLanguage(GetUiLanguageId());
}

void LanguageManager::InitCurrentLanguage(const std::wstring& uiLanguageId) {
  language_ = L"English";
  LOGA(LogLevelInfo, "Language Code:%s", WideToUtf8(uiLanguageId).c_str());
  std::wstring name = ReadIniValue(folder_ + L"language.ini", L"Language", uiLanguageId);
  if (!name.empty()) language_ = name;
  rightToLeft_ = IsRightToLeftLanguage(language_);
}

void LanguageManager::LoadTextTable() {
  strings_ = DefaultStrings();
  ReadIniSection(folder_ + L"/text.ini", language_, strings_);
  const std::wstring product = GetProductName();
  const std::wstring color = GetLicenceColor();
  const std::wstring brand = GetBrandName();
  for (auto& [key, value] : strings_) {
    value = ReplaceAll(std::move(value), L"PRODUCT", product);
    value = ReplaceAll(std::move(value), L"COLOR", color);
    value = ReplaceAll(std::move(value), L"BRAND", brand);
  }
}

std::wstring LanguageManager::GetText(const std::wstring& key) const {
  auto it = strings_.find(key);
  return it == strings_.end() ? std::wstring() : it->second;
}
