// UTF-8 <-> wide text for the toolkit (wide strings are UTF-32 here).
#pragma once

#include <string>
#include <string_view>

namespace SkinUI {

std::string ToUtf8(std::wstring_view text);
// Invalid sequences become U+FFFD rather than being dropped.
std::wstring FromUtf8(std::string_view text);
// Equal when letter case is ignored (the locale's case mapping). Any thread.
bool EqualsNoCase(std::wstring_view a, std::wstring_view b);

}  // namespace SkinUI
