#include "ui/core/ValueFormats.h"

#include <cwctype>
#include <vector>

#include "ui/core/Utf.h"

namespace SkinUI {
namespace {

int HexDigit(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

std::wstring_view Trim(std::wstring_view s) {
  while (!s.empty() && std::iswspace(static_cast<wint_t>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::iswspace(static_cast<wint_t>(s.back()))) s.remove_suffix(1);
  return s;
}

std::vector<int> ParseInts(std::wstring_view text) {
  std::vector<int> out;
  std::size_t i = 0;
  while (i <= text.size()) {
    std::size_t comma = text.find(L',', i);
    std::wstring_view part =
        text.substr(i, comma == std::wstring_view::npos ? std::wstring_view::npos : comma - i);
    out.push_back(ParseInt(part));
    if (comma == std::wstring_view::npos) break;
    i = comma + 1;
  }
  return out;
}

}  // namespace

UiColor ParseColor(std::wstring_view text) {
  text = Trim(text);
  if (!text.empty() && text.front() == L'#') text.remove_prefix(1);
  std::uint32_t v = 0;
  for (std::size_t i = 0; i < text.size() && i < 8; ++i) {
    int d = HexDigit(text[i]);
    if (d < 0) break;
    v = (v << 4) | static_cast<std::uint32_t>(d);
  }
  return v;
}

bool IsColorText(std::wstring_view text) {
  text = Trim(text);
  if (!text.empty() && text.front() == L'#') text.remove_prefix(1);
  return !text.empty() && HexDigit(text.front()) >= 0;
}

int ParseInt(std::wstring_view text, int fallback) {
  text = Trim(text);
  bool neg = false;
  if (!text.empty() && (text.front() == L'-' || text.front() == L'+')) {
    neg = text.front() == L'-';
    text.remove_prefix(1);
  }
  if (text.empty() || !std::iswdigit(static_cast<wint_t>(text.front()))) return fallback;
  long long v = 0;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') break;
    v = v * 10 + (c - L'0');
    if (v > 1000000000) {  // pixels and percents never come near this
      v = 1000000000;
      break;
    }
  }
  return static_cast<int>(neg ? -v : v);
}

UiRect ParseRect(std::wstring_view text) {
  std::vector<int> v = ParseInts(text);
  v.resize(4, 0);
  return UiRect{v[0], v[1], v[2], v[3]};
}

UiSize ParseSize(std::wstring_view text) {
  std::vector<int> v = ParseInts(text);
  v.resize(2, 0);
  return UiSize{v[0], v[1]};
}

bool ParseBool(std::wstring_view text) {
  return EqualsNoCase(Trim(text), L"true");
}

TextAlign ParseAlign(std::wstring_view text, TextAlign fallback) {
  text = Trim(text);
  if (EqualsNoCase(text, L"left")) return TextAlign::kLeft;
  if (EqualsNoCase(text, L"right")) return TextAlign::kRight;
  if (EqualsNoCase(text, L"center")) return TextAlign::kCenter;
  return fallback;
}

ImageDescriptor ParseImageDescriptor(std::wstring_view text) {
  ImageDescriptor d;
  std::wstring_view t = Trim(text);
  bool anyPair = false;
  std::size_t i = 0;
  while (i < t.size()) {
    while (i < t.size() && std::iswspace(static_cast<wint_t>(t[i]))) ++i;
    std::size_t eq = t.find(L'=', i);
    if (eq == std::wstring_view::npos || eq + 1 >= t.size() || t[eq + 1] != L'\'') break;
    std::size_t close = t.find(L'\'', eq + 2);
    if (close == std::wstring_view::npos) break;
    std::wstring_view key = Trim(t.substr(i, eq - i));
    std::wstring_view val = t.substr(eq + 2, close - eq - 2);
    anyPair = true;
    if (key == L"file")
      d.file = val;
    else if (key == L"res")
      d.res = val;
    else if (key == L"restype")
      d.restype = val;
    else if (key == L"color")
      d.color = ParseColor(val);
    else if (key == L"dest")
      d.dest = ParseRect(val);
    else if (key == L"source")
      d.source = ParseRect(val);
    else if (key == L"corner" || key == L"scale9")
      d.corner = ParseRect(val);
    else if (key == L"mask")
      d.mask = ParseColor(val);
    else if (key == L"fade")
      d.fade = std::clamp(ParseInt(val, 255), 0, 255);
    else if (key == L"hole")
      d.hole = ParseBool(val);
    else if (key == L"xtiled")
      d.xtiled = ParseBool(val);
    else if (key == L"ytiled")
      d.ytiled = ParseBool(val);
    else if (key == L"hsl")
      d.hsl = ParseBool(val);
    i = close + 1;
  }
  if (!anyPair) d.file = t;
  return d;
}

}  // namespace SkinUI
