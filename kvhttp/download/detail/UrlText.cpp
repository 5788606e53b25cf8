#include "kvhttp/download/detail/UrlText.h"

#include <clocale>
#include <cstdlib>
#include <cwchar>
#include <mutex>

#include "kvhttp/download/detail/PathText.h"
#include "kvhttp/net/ParsedUrl.h"

namespace kvhttp::detail {

void UseUserLocale() {
  static std::once_flag once;
  std::call_once(once, [] { std::setlocale(LC_CTYPE, ""); });
}

bool LocaleToWideText(const std::string& text, std::wstring& out) {
  std::mbstate_t state{};
  const char* src = text.c_str();
  std::size_t n = std::mbsrtowcs(nullptr, &src, 0, &state);
  if (n == static_cast<std::size_t>(-1)) return false;
  std::wstring w(n, L'\0');
  src = text.c_str();
  state = std::mbstate_t{};
  std::mbsrtowcs(w.data(), &src, n, &state);
  out = std::move(w);
  return true;
}

bool WideToLocaleText(const std::wstring& text, std::string& out) {
  std::mbstate_t state{};
  const wchar_t* src = text.c_str();
  std::size_t n = std::wcsrtombs(nullptr, &src, 0, &state);
  if (n == static_cast<std::size_t>(-1)) return false;
  std::string s(n, '\0');
  src = text.c_str();
  state = std::mbstate_t{};
  std::wcsrtombs(s.data(), &src, n, &state);
  out = std::move(s);
  return true;
}

std::string EscapeUrlText(const std::string& text) {
  std::wstring wide;
  const std::string utf8 = LocaleToWideText(text, wide) ? PathToNative(wide) : text;
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(utf8.size());
  for (char ch : utf8) {
    auto c = static_cast<unsigned char>(ch);
    if (c >= 0x80 || c == ' ' || c == '^' || c == '`' || c == '{' || c == '|' || c == '}') {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += ch;
    }
  }
  return out;
}

bool NormaliseUrlText(const std::string& text, std::string& out) {
  boost::system::error_code ec;
  ParsedUrl url = ParseUrl(text, ec);
  if (ec) return false;
  out = UrlToString(url, url_full);
  return true;
}

}  // namespace kvhttp::detail
