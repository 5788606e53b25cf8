#include "config/SplitUrl.h"

#include <string_view>

namespace {

bool StartsWithNoCase(std::wstring_view s, std::wstring_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    wchar_t c = s[i];
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

}  // namespace

bool SplitUrl(const std::wstring& url, std::wstring& host, std::wstring& path) {
  // The scheme must lead: an "http://" inside the query of an https address is no scheme.
  std::wstring rest;
  if (StartsWithNoCase(url, L"http://")) {
    rest = url.substr(7);
  } else if (StartsWithNoCase(url, L"https://")) {
    rest = url.substr(8);
  } else {
    return true;
  }
  host = rest;
  std::size_t slash = rest.find(L'/');
  if (slash == std::wstring::npos) return false;
  path = rest.substr(slash + 1);
  host = rest.substr(0, slash);
  return true;
}
