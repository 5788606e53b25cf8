// The program's fixed tables: the languages it knows and the built-in English UI strings.
// Constant after static initialisation; any thread.
#pragma once

#include <map>
#include <string>
#include <vector>

struct KnownLanguage {
  int uiLanguageId;     // Windows language id, the key in "language.ini"
  const wchar_t* name;  // language name: the value in "language.ini", the section in "text.ini"
};

// The 41 rows of "language.ini" in file order.
const std::vector<KnownLanguage>& KnownLanguages();

// The UI string keys in their order in every "text.ini" section.
const std::vector<std::wstring>& DefaultStringKeys();

// Key to English text, placeholders (PRODUCT, COLOR, BRAND) not yet filled.
const std::map<std::wstring, std::wstring>& DefaultStrings();

// Names of the languages shown right to left.
bool IsRightToLeftLanguage(const std::wstring& language);
