#include "platform/profile/Profile.h"

#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/Folders.h"
#include "platform/TextCodec.h"

namespace platform {
namespace {

constexpr wchar_t kReplacement = 0xFFFD;
// Profile files are a few kilobytes; anything past this is not one.
constexpr std::size_t kMaxProfileBytes = 64u << 20;

std::wstring Utf16ToWide(std::string_view b, bool bigEndian) {
  std::wstring out;
  out.reserve(b.size() / 2);
  auto unit = [&](std::size_t i) -> std::uint32_t {
    auto lo = static_cast<unsigned char>(b[i]);
    auto hi = static_cast<unsigned char>(b[i + 1]);
    return bigEndian ? (lo << 8 | hi) : (hi << 8 | lo);
  };
  // A trailing odd byte cannot be a character and is dropped.
  for (std::size_t i = 0; i + 1 < b.size(); i += 2) {
    std::uint32_t u = unit(i);
    if (u >= 0xD800 && u <= 0xDBFF && i + 3 < b.size()) {
      std::uint32_t low = unit(i + 2);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        out += static_cast<wchar_t>(0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
        i += 2;
        continue;
      }
    }
    out += (u >= 0xD800 && u <= 0xDFFF) ? kReplacement : static_cast<wchar_t>(u);
  }
  return out;
}

// Strict UTF-8 (no overlongs, no surrogates); nullopt on the first invalid sequence.
std::optional<std::wstring> DecodeUtf8(std::string_view b) {
  std::wstring out;
  out.reserve(b.size());
  for (std::size_t i = 0; i < b.size();) {
    auto c = static_cast<unsigned char>(b[i]);
    int extra = 0;
    std::uint32_t cp = 0;
    if (c < 0x80) {
      out += static_cast<wchar_t>(c);
      ++i;
      continue;
    } else if (c >= 0xC2 && c <= 0xDF) {
      extra = 1;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      extra = 2;
      cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      extra = 3;
      cp = c & 0x07;
    } else {
      return std::nullopt;
    }
    if (i + extra >= b.size()) return std::nullopt;
    for (int k = 1; k <= extra; ++k) {
      auto cc = static_cast<unsigned char>(b[i + k]);
      if ((cc & 0xC0) != 0x80) return std::nullopt;
      cp = (cp << 6) | (cc & 0x3F);
    }
    if ((extra == 2 && cp < 0x800) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF)) {
      return std::nullopt;
    }
    out += static_cast<wchar_t>(cp);
    i += extra + 1;
  }
  return out;
}

// Case folding for name comparison that does not depend on the process locale: ASCII, Latin-1,
// Greek and Cyrillic capitals, which covers the names ini files of our languages use.
wchar_t Fold(wchar_t c) {
  auto shift = [c](int by) { return static_cast<wchar_t>(c + by); };
  if (c >= L'A' && c <= L'Z') return shift(0x20);
  if (c < 0x80) return c;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return shift(0x20);
  if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return shift(0x20);
  if (c >= 0x410 && c <= 0x42F) return shift(0x20);
  if (c >= 0x400 && c <= 0x40F) return shift(0x50);
  return c;
}

bool SameName(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Fold(a[i]) != Fold(b[i])) return false;
  }
  return true;
}

std::wstring_view Unquote(std::wstring_view v) {
  if (v.size() >= 2 && (v.front() == L'"' || v.front() == L'\'') && v.back() == v.front()) {
    return v.substr(1, v.size() - 2);
  }
  return v;
}

struct Line {
  std::wstring_view key;
  std::optional<std::wstring_view> value;  // absent for a line without "="
};

// Calls `onLine` for every entry line of the first section named `section`; false when the
// section does not exist.
template <class F>
bool ForEachLineOfSection(std::wstring_view text, std::wstring_view section, F onLine) {
  bool inSection = false;
  bool found = false;
  std::size_t pos = 0;
  while (pos <= text.size()) {
    std::size_t end = text.find_first_of(L"\r\n", pos);
    if (end == std::wstring_view::npos) end = text.size();
    std::wstring_view line = TrimProfileBlanks(text.substr(pos, end - pos));
    pos = end + 1;
    if (line.empty()) continue;
    if (line.front() == L'[') {
      if (inSection) return true;
      std::wstring_view name = line.substr(1);
      std::size_t close = name.find(L']');
      if (close != std::wstring_view::npos) name = name.substr(0, close);
      inSection = !found && SameName(TrimProfileBlanks(name), section);
      found = found || inSection;
      continue;
    }
    if (!inSection || line.front() == L';') continue;
    std::size_t eq = line.find(L'=');
    if (eq == std::wstring_view::npos) {
      onLine(Line{line, std::nullopt});
    } else {
      onLine(Line{TrimProfileBlanks(line.substr(0, eq)), TrimProfileBlanks(line.substr(eq + 1))});
    }
  }
  return found;
}

std::optional<std::wstring> LoadText(const std::wstring& file) {
  // Paths are in the locale's character set, as the system gave them to us.
  std::optional<std::string> bytes = ReadWholeFile(WideToLocale(file), kMaxProfileBytes);
  if (!bytes) return std::nullopt;
  return DecodeProfileText(*bytes);
}

std::wstring Cut(std::wstring_view v, std::size_t bufferChars) {
  if (bufferChars == 0) return {};
  return std::wstring(v.substr(0, bufferChars - 1));
}

}  // namespace

std::wstring_view TrimProfileBlanks(std::wstring_view s) {
  auto blank = [](wchar_t c) {
    return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == L'\v' || c == L'\f';
  };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

std::wstring DecodeProfileText(const std::string& bytes) {
  std::string_view b(bytes);
  if (b.size() >= 2 && static_cast<unsigned char>(b[0]) == 0xFF &&
      static_cast<unsigned char>(b[1]) == 0xFE) {
    return Utf16ToWide(b.substr(2), false);
  }
  if (b.size() >= 2 && static_cast<unsigned char>(b[0]) == 0xFE &&
      static_cast<unsigned char>(b[1]) == 0xFF) {
    return Utf16ToWide(b.substr(2), true);
  }
  if (b.size() >= 3 && b.substr(0, 3) == "\xEF\xBB\xBF") b.remove_prefix(3);
  if (auto utf8 = DecodeUtf8(b)) return *utf8;
  // Not UTF-8: take each byte as its Latin-1 character so that nothing is lost.
  std::wstring out;
  out.reserve(b.size());
  for (char c : b) out += static_cast<wchar_t>(static_cast<unsigned char>(c));
  return out;
}

std::wstring DecodeUtf16(std::string_view bytes, ByteOrder order) {
  return Utf16ToWide(bytes, order == ByteOrder::kBigEndian);
}

std::wstring ReadProfileString(const std::wstring& file, const std::wstring& section,
                               const std::wstring& key, const std::wstring& fallback,
                               std::size_t bufferChars) {
  std::optional<std::wstring> text = LoadText(file);
  if (!text) return Cut(fallback, bufferChars);
  std::optional<std::wstring> value;
  ForEachLineOfSection(*text, section, [&](const Line& line) {
    if (!value && line.value && SameName(line.key, key)) value = std::wstring(Unquote(*line.value));
  });
  return Cut(value ? *value : fallback, bufferChars);
}

std::vector<std::wstring> ReadProfileSection(const std::wstring& file, const std::wstring& section,
                                             std::size_t bufferChars) {
  std::vector<std::wstring> lines;
  std::optional<std::wstring> text = LoadText(file);
  if (!text || bufferChars < 2) return lines;
  std::size_t used = 0;  // characters taken so far, line terminators included
  bool full = false;
  ForEachLineOfSection(*text, section, [&](const Line& line) {
    if (full) return;
    std::wstring entry(line.key);
    if (line.value) entry += L"=" + std::wstring(Unquote(*line.value));
    // One character of the buffer is kept for the zero that ends the list.
    if (used + entry.size() + 1 <= bufferChars - 1) {
      used += entry.size() + 1;
      lines.push_back(std::move(entry));
      return;
    }
    full = true;
    std::size_t room = bufferChars - 2 - used;
    if (room > 0) lines.push_back(entry.substr(0, room));
  });
  return lines;
}

}  // namespace platform
