// The Windows language id of a POSIX locale name.
#pragma once

#include <string>

namespace kvsys_detail {

// "ar_SA.UTF-8" -> 1025. An unknown territory gives its language's main id; an unknown language,
// "C", "POSIX" and "" give 1033 (English, the program's fallback language).
int LanguageIdOfLocale(const std::string& locale);

// The locale that decides the UI language: LC_ALL, else LC_MESSAGES, else LANG.
std::string UiLocaleName();

}  // namespace kvsys_detail
