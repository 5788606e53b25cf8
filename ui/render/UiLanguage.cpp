#include "ui/render/UiLanguage.h"

#include <cstdlib>

namespace SkinUI {
namespace {

// "zh_TW.UTF-8@euro" -> "zh-TW"; "C" and "POSIX" say nothing.
std::string TagOfLocale(const char* locale) {
  if (locale == nullptr) return "";
  std::string s = locale;
  s = s.substr(0, s.find_first_of(".@"));
  if (s.empty() || s == "C" || s == "POSIX") return "";
  for (char& c : s) {
    if (c == '_') c = '-';
  }
  return s;
}

std::string LocaleTag() {
  for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    std::string tag = TagOfLocale(std::getenv(var));
    if (!tag.empty()) return tag;
  }
  return "en";
}

std::string& Current() {
  static std::string tag = LocaleTag();
  return tag;
}

}  // namespace

void SetUiLanguage(const std::string& tag) {
  Current() = tag.empty() ? LocaleTag() : tag;
}

std::string GetUiLanguage() {
  return Current();
}

std::string LanguageTagForLcid(unsigned lcid) {
  struct Entry {
    unsigned lcid;
    const char* tag;
  };
  static const Entry kTags[] = {
      {1033, "en"},    {2052, "zh-CN"}, {1028, "zh-TW"}, {1043, "nl"}, {1036, "fr"},
      {1031, "de"},    {1040, "it"},    {1041, "ja"},    {3082, "es"}, {2070, "pt-PT"},
      {1046, "pt-BR"}, {1042, "ko"},    {1025, "ar"},    {1054, "th"}, {1057, "id"},
      {1086, "ms"},    {1053, "sv"},    {1045, "pl"},    {1049, "ru"}, {1044, "nb"},
      {1030, "da"},    {2108, "ga"},    {1035, "fi"},    {1029, "cs"}, {1066, "vi"},
      {1032, "el"},    {1051, "sk"},    {1037, "he"},    {1055, "tr"}, {1048, "ro"},
      {1038, "hu"},    {1026, "bg"},    {1050, "hr"},    {1087, "kk"}, {10266, "sr"},
      {1060, "sl"},    {1063, "lt"},    {2092, "az"},    {1079, "ka"}, {1062, "lv"},
      {1061, "et"},    {1039, "is"},    {2057, "en-GB"},
  };
  for (const Entry& e : kTags) {
    if (e.lcid == lcid) return e.tag;
  }
  return "";
}

}  // namespace SkinUI
