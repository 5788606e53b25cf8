#include "platform/TextCodec.h"

#include <langinfo.h>
#include <locale.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string_view>

namespace platform {
namespace {

bool IsPlainC(locale_t loc) {
  const char* name = ::nl_langinfo_l(CODESET, loc);
  return name == nullptr || std::strcmp(name, "ANSI_X3.4-1968") == 0 ||
         std::strcmp(name, "ASCII") == 0;
}

// Created once and never freed: threads may hold it as their locale until the process ends.
locale_t UserLocale() {
  static const locale_t loc = [] {
    locale_t user = ::newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0));
    if (user != static_cast<locale_t>(0) && !IsPlainC(user)) return user;
    if (user != static_cast<locale_t>(0)) ::freelocale(user);
    locale_t utf8 = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    return utf8 != static_cast<locale_t>(0) ? utf8 : ::duplocale(LC_GLOBAL_LOCALE);
  }();
  return loc;
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

constexpr char32_t kReplacement = 0xFFFD;

bool IsValidScalar(char32_t c) {
  return c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF);
}

}  // namespace

ScopedUserLocale::ScopedUserLocale() : previous_(::uselocale(UserLocale())) {}

ScopedUserLocale::~ScopedUserLocale() {
  ::uselocale(static_cast<locale_t>(previous_));
}

std::wstring LocaleToWide(const std::string& text) {
  ScopedUserLocale scope;
  std::wstring out;
  out.reserve(text.size());
  std::mbstate_t state{};
  const char* p = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    wchar_t wc = 0;
    std::size_t n = std::mbrtowc(&wc, p, left, &state);
    if (n == static_cast<std::size_t>(-1) || n == static_cast<std::size_t>(-2)) {
      // A byte the locale cannot read: keep going so the rest of the text survives.
      out += L'?';
      state = std::mbstate_t{};
      ++p;
      --left;
      continue;
    }
    if (n == 0) n = 1;  // an embedded NUL
    out += wc;
    p += n;
    left -= n;
  }
  return out;
}

std::string WideToLocale(const std::wstring& text) {
  ScopedUserLocale scope;
  std::string out;
  out.reserve(text.size());
  std::mbstate_t state{};
  char buf[MB_LEN_MAX];
  for (wchar_t wc : text) {
    std::size_t n = std::wcrtomb(buf, wc, &state);
    if (n == static_cast<std::size_t>(-1)) {
      out += '?';
      state = std::mbstate_t{};
      continue;
    }
    out.append(buf, n);
  }
  return out;
}

std::wstring Utf8ToWide(const std::string& text) {
  std::wstring out;
  out.reserve(text.size());
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t size = text.size();
  std::size_t i = 0;
  while (i < size) {
    unsigned char b = s[i];
    if (b < 0x80) {
      out += static_cast<wchar_t>(b);
      ++i;
      continue;
    }
    int extra = (b >> 5) == 0x6 ? 1 : (b >> 4) == 0xE ? 2 : (b >> 3) == 0x1E ? 3 : -1;
    if (extra < 0 || i + extra >= size) {
      out += static_cast<wchar_t>(kReplacement);
      ++i;
      continue;
    }
    char32_t c = b & (0x3F >> extra);
    bool ok = true;
    for (int k = 1; k <= extra; ++k) {
      if ((s[i + k] & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      c = (c << 6) | (s[i + k] & 0x3F);
    }
    static constexpr char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
    if (!ok || c < kMin[extra] || !IsValidScalar(c)) {
      out += static_cast<wchar_t>(kReplacement);
      ++i;
      continue;
    }
    out += static_cast<wchar_t>(c);
    i += extra + 1;
  }
  return out;
}

std::string WideToUtf8(const std::wstring& text) {
  std::string out;
  out.reserve(text.size());
  for (wchar_t wc : text) {
    auto c = static_cast<char32_t>(wc);
    AppendUtf8(out, IsValidScalar(c) ? c : kReplacement);
  }
  return out;
}

}  // namespace platform
