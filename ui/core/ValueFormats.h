// Readers for the attribute value formats of the skin files. Any thread; no state.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "ui/core/Types.h"

namespace SkinUI {

// "#AARRGGBB", "#" optional; reading stops at the first non-hex character, so "#FF0EB1A8;"
// is FF0EB1A8. Six digits or fewer are read as the number they spell (no alpha), as written.
UiColor ParseColor(std::wstring_view text);
// True when the text starts (after an optional "#") with at least one hex digit.
bool IsColorText(std::wstring_view text);

// "a,b,c,d" in pixels; missing numbers are 0. Negative numbers are allowed.
UiRect ParseRect(std::wstring_view text);
UiSize ParseSize(std::wstring_view text);
int ParseInt(std::wstring_view text, int fallback = 0);
bool ParseBool(std::wstring_view text);

enum class TextAlign { kLeft, kCenter, kRight };
TextAlign ParseAlign(std::wstring_view text, TextAlign fallback = TextAlign::kLeft);

// An image attribute: a plain file name, or key='value' pairs.
struct ImageDescriptor {
  std::wstring file;
  std::wstring res;
  std::wstring restype;
  std::optional<UiColor> color;  // a plain colour instead of an image
  std::optional<UiRect> dest;    // inside the control
  std::optional<UiRect> source;  // part of the image
  UiRect corner;                 // borders kept unstretched
  std::optional<UiColor> mask;   // colour made transparent (RGB compared)
  int fade = 255;
  bool hole = false;
  bool xtiled = false;
  bool ytiled = false;
  bool hsl = false;

  bool IsEmpty() const { return file.empty() && res.empty() && !color; }
  // The file or resource name the image comes from.
  const std::wstring& Name() const { return file.empty() ? res : file; }
};

ImageDescriptor ParseImageDescriptor(std::wstring_view text);

}  // namespace SkinUI
