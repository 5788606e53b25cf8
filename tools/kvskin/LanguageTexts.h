// The texts the installer window puts on the skin's controls, in one of the program's
// languages, read from the language package linked into kvskin.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace kvskin {

struct LanguageTexts {
  std::wstring language;  // "Greek"
  bool rightToLeft = false;
  // (control name, text), as the window binds them at start.
  std::vector<std::pair<std::wstring, std::wstring>> controls;
};

// False when the package cannot be read. Logs go to a scratch folder that is removed again.
bool LoadLanguageTexts(unsigned lcid, LanguageTexts& out);

}  // namespace kvskin
