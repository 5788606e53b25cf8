// UTF-8 <-> wide text for the toolkit (wide strings are UTF-32 here).
#pragma once

#include <string>
#include <string_view>

namespace SkinUI {

std::string ToUtf8(std::wstring_view text);
// Invalid sequences become U+FFFD rather than being dropped.
std::wstring FromUtf8(std::string_view text);

}  // namespace SkinUI
