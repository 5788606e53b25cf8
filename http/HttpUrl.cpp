#include "http/HttpUrl.h"

#include <cstdlib>
#include <cwchar>

namespace {

long ToNumber(const std::string& s) {
  return std::strtol(s.c_str(), nullptr, 10);
}
long ToNumber(const std::wstring& s) {
  return std::wcstol(s.c_str(), nullptr, 10);
}

template <class Str>
bool StartsWithHttps(const Str& url) {
  static const char kPrefix[] = "https://";
  if (url.size() < 8) return false;
  for (std::size_t i = 0; i < 8; ++i) {
    const auto c = url[i];
    const auto lower = (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c;
    if (lower != static_cast<decltype(lower)>(kPrefix[i])) return false;
  }
  return true;
}

template <class Str>
void Split(Str url, Str& host, Str& path, std::uint16_t& port, const Str& http, const Str& https) {
  using Ch = typename Str::value_type;
  port = 80;
  // An https URL with "http://" in its path or query still names its own host.
  if (StartsWithHttps(url)) {
    port = 443;
    url = url.substr(https.size());
  } else if (std::size_t p = url.find(http); p != Str::npos) {
    url = url.substr(p + http.size());
  } else if (std::size_t q = url.find(https); q != Str::npos) {
    port = 443;
    url = url.substr(q + https.size());
  }
  const std::size_t slash = url.find(static_cast<Ch>('/'));
  host = url.substr(0, slash);
  path = slash == Str::npos ? Str(1, static_cast<Ch>('/')) : url.substr(slash);
  const std::size_t colon = host.find(static_cast<Ch>(':'));
  if (colon != Str::npos) {
    // Like atoi: a non-number gives 0; the value is cut to 16 bits.
    port = static_cast<std::uint16_t>(ToNumber(host.substr(colon + 1)));
    host = host.substr(0, colon);
  }
}

}  // namespace

void ParseHttpUrl(const std::wstring& url, std::wstring& host, std::wstring& path,
                  std::uint16_t& port) {
  Split<std::wstring>(url, host, path, port, L"http://", L"https://");
}

void ParseHttpUrl(const std::string& url, std::string& host, std::string& path,
                  std::uint16_t& port) {
  Split<std::string>(url, host, path, port, "http://", "https://");
}

bool UsesTls(const std::wstring& url, std::uint16_t port) {
  return port == 443 || StartsWithHttps(url);
}

bool UsesTls(const std::string& url, std::uint16_t port) {
  return port == 443 || StartsWithHttps(url);
}
