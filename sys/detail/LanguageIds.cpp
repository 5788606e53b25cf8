#include "sys/detail/LanguageIds.h"

#include <cstdlib>
#include <string_view>

namespace kvsys_detail {
namespace {

struct Entry {
  std::string_view name;  // "ll_TT", "ll_TT@modifier" or "ll" (the language's main id)
  int id;
};

// The program's 41 languages with their regional variants, and a few neighbours that would
// otherwise be mistaken for one of them.
constexpr Entry kTable[] = {
    {"en", 1033},
    {"en_US", 1033},
    {"en_GB", 2057},
    {"en_AU", 3081},
    {"en_CA", 4105},
    {"en_NZ", 5129},
    {"en_IE", 6153},
    {"en_ZA", 7177},
    {"en_IN", 16393},
    {"en_SG", 18441},
    {"zh", 2052},
    {"zh_CN", 2052},
    {"zh_TW", 1028},
    {"zh_HK", 3076},
    {"zh_SG", 4100},
    {"zh_MO", 5124},
    {"nl", 1043},
    {"nl_NL", 1043},
    {"nl_BE", 2067},
    {"fr", 1036},
    {"fr_FR", 1036},
    {"fr_BE", 2060},
    {"fr_CA", 3084},
    {"fr_CH", 4108},
    {"fr_LU", 5132},
    {"de", 1031},
    {"de_DE", 1031},
    {"de_CH", 2055},
    {"de_AT", 3079},
    {"de_LU", 4103},
    {"de_LI", 5127},
    {"it", 1040},
    {"it_IT", 1040},
    {"it_CH", 2064},
    {"ja", 1041},
    {"ja_JP", 1041},
    {"es", 3082},
    {"es_ES", 3082},
    {"es_MX", 2058},
    {"es_AR", 11274},
    {"es_CO", 9226},
    {"es_CL", 13322},
    {"es_PE", 10250},
    {"es_VE", 8202},
    {"es_US", 21514},
    {"pt", 2070},
    {"pt_PT", 2070},
    {"pt_BR", 1046},
    {"ko", 1042},
    {"ko_KR", 1042},
    {"ar", 1025},
    {"ar_SA", 1025},
    {"ar_IQ", 2049},
    {"ar_EG", 3073},
    {"ar_LY", 4097},
    {"ar_DZ", 5121},
    {"ar_MA", 6145},
    {"ar_TN", 7169},
    {"ar_OM", 8193},
    {"ar_YE", 9217},
    {"ar_SY", 10241},
    {"ar_JO", 11265},
    {"ar_LB", 12289},
    {"ar_KW", 13313},
    {"ar_AE", 14337},
    {"ar_BH", 15361},
    {"ar_QA", 16385},
    {"th", 1054},
    {"th_TH", 1054},
    {"id", 1057},
    {"id_ID", 1057},
    {"ms", 1086},
    {"ms_MY", 1086},
    {"ms_BN", 2110},
    {"sv", 1053},
    {"sv_SE", 1053},
    {"sv_FI", 2077},
    {"pl", 1045},
    {"pl_PL", 1045},
    {"ru", 1049},
    {"ru_RU", 1049},
    {"nb", 1044},
    {"nb_NO", 1044},
    {"no", 1044},
    {"no_NO", 1044},
    {"nn", 2068},
    {"nn_NO", 2068},
    {"da", 1030},
    {"da_DK", 1030},
    {"ga", 2108},
    {"ga_IE", 2108},
    {"fi", 1035},
    {"fi_FI", 1035},
    {"cs", 1029},
    {"cs_CZ", 1029},
    {"vi", 1066},
    {"vi_VN", 1066},
    {"el", 1032},
    {"el_GR", 1032},
    {"sk", 1051},
    {"sk_SK", 1051},
    {"he", 1037},
    {"he_IL", 1037},
    {"iw", 1037},
    {"iw_IL", 1037},
    {"tr", 1055},
    {"tr_TR", 1055},
    {"ro", 1048},
    {"ro_RO", 1048},
    {"ro_MD", 2072},
    {"hu", 1038},
    {"hu_HU", 1038},
    {"bg", 1026},
    {"bg_BG", 1026},
    {"hr", 1050},
    {"hr_HR", 1050},
    {"hr_BA", 4122},
    {"kk", 1087},
    {"kk_KZ", 1087},
    {"sr", 10266},
    {"sr_RS", 10266},
    {"sr_RS@latin", 9242},
    {"sr_ME", 12314},
    {"sr_ME@latin", 11290},
    {"sl", 1060},
    {"sl_SI", 1060},
    {"lt", 1063},
    {"lt_LT", 1063},
    {"az", 1068},
    {"az_AZ", 1068},
    {"az_AZ@cyrillic", 2092},
    {"az@cyrillic", 2092},
    {"ka", 1079},
    {"ka_GE", 1079},
    {"lv", 1062},
    {"lv_LV", 1062},
    {"et", 1061},
    {"et_EE", 1061},
    {"is", 1039},
    {"is_IS", 1039},
};

int Find(std::string_view name) {
  for (const Entry& e : kTable) {
    if (e.name == name) return e.id;
  }
  return 0;
}

}  // namespace

int LanguageIdOfLocale(const std::string& locale) {
  // ll[_TT][.codeset][@modifier]; the codeset says nothing about the language.
  std::string_view s = locale;
  std::string_view modifier;
  if (std::size_t at = s.find('@'); at != std::string_view::npos) {
    modifier = s.substr(at);
    s = s.substr(0, at);
  }
  if (std::size_t dot = s.find('.'); dot != std::string_view::npos) s = s.substr(0, dot);
  std::string base(s);
  for (char& c : base) {
    if (c == '-') c = '_';  // "zh-TW" as some desktops write it
  }
  std::string lang = base.substr(0, base.find('_'));
  for (char& c : lang) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  if (std::size_t us = base.find('_'); us != std::string::npos) {
    std::string territory = base.substr(us + 1);
    for (char& c : territory) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
    base = lang + "_" + territory;
  } else {
    base = lang;
  }
  if (!modifier.empty()) {
    if (int id = Find(base + std::string(modifier))) return id;
    if (int id = Find(lang + std::string(modifier))) return id;
  }
  if (int id = Find(base)) return id;
  if (int id = Find(lang)) return id;
  return 1033;
}

std::string UiLocaleName() {
  for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* v = std::getenv(var);
    if (v != nullptr && *v != 0) return v;
  }
  return {};
}

}  // namespace kvsys_detail
