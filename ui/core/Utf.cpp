#include "ui/core/Utf.h"

#include <cwctype>

#include "platform/TextCodec.h"

namespace SkinUI {

// The platform's coder, so the toolkit reads and writes UTF-8 exactly as the rest of the program.
std::string ToUtf8(std::wstring_view text) { return platform::WideToUtf8(std::wstring(text)); }

std::wstring FromUtf8(std::string_view text) { return platform::Utf8ToWide(std::string(text)); }

bool EqualsNoCase(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::towlower(static_cast<wint_t>(a[i])) != std::towlower(static_cast<wint_t>(b[i]))) {
      return false;
    }
  }
  return true;
}

}  // namespace SkinUI
