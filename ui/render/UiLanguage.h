// The language the window's texts are in. Pango gets it for every layout, so that Chinese
// (simplified and traditional), Japanese and Korean pick their own faces for the characters
// they share, and the font list adds the face of its script. UI thread.
#pragma once

#include <string>

namespace SkinUI {

// A BCP 47 tag ("zh-TW", "ar", "el"). Until set, the locale's (LC_ALL, LC_MESSAGES, LANG).
void SetUiLanguage(const std::string& tag);
std::string GetUiLanguage();

// The tag of a Windows UI language id of the program's languages (1028 -> "zh-TW"); "" for
// an id it does not know. Any thread.
std::string LanguageTagForLcid(unsigned lcid);

}  // namespace SkinUI
