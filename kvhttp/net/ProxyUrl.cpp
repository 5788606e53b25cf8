#include "kvhttp/net/ProxyUrl.h"

#include <charconv>

#include "kvhttp/net/ParsedUrl.h"

namespace kvhttp {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "%40" and the like, as a proxy URL writes characters that would split it.
bool PercentDecode(const std::string& text, std::string& out) {
  out.clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    if (i + 2 >= text.size()) return false;
    const int hi = HexValue(text[i + 1]), lo = HexValue(text[i + 2]);
    if (hi < 0 || lo < 0) return false;
    out += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  return true;
}

}  // namespace

bool ParseProxyUrl(const std::string& text, ProxySettings& out, std::string& error) {
  if (text.empty()) {
    out = ProxySettings();
    return true;
  }
  boost::system::error_code ec;
  // The user information may hold "@" (encoded or not); the host follows the last one.
  const std::size_t scheme = text.find("://");
  const std::size_t at = text.rfind('@');
  std::string userInfo;
  std::string rest = text;
  if (scheme != std::string::npos && at != std::string::npos && at > scheme) {
    userInfo = text.substr(scheme + 3, at - scheme - 3);
    rest = text.substr(0, scheme + 3) + text.substr(at + 1);
  }
  ParsedUrl url = ParseUrl(rest, ec);
  if (ec || url.host.empty() || url.port.empty()) {
    error = "bad proxy \"" + text + "\": expected SCHEME://[user:pass@]host:port";
    return false;
  }
  int port = 0;
  auto [end, parseError] =
      std::from_chars(url.port.data(), url.port.data() + url.port.size(), port);
  if (parseError != std::errc() || end != url.port.data() + url.port.size() || port < 1 ||
      port > 65535) {
    error = "bad proxy port \"" + url.port + "\"";
    return false;
  }
  ProxySettings p;
  p.host = url.host;
  p.port = port;
  const bool withUser = !userInfo.empty();
  if (withUser) {
    const auto colon = userInfo.find(':');
    if (!PercentDecode(userInfo.substr(0, colon), p.username) ||
        (colon != std::string::npos && !PercentDecode(userInfo.substr(colon + 1), p.password))) {
      error = "bad percent-encoding in the proxy's user or password";
      return false;
    }
  }
  if (url.protocol == "socks5" || url.protocol == "socks5h") {
    p.type = withUser ? proxy_socks5_pw : proxy_socks5;
  } else if (url.protocol == "socks4" || url.protocol == "socks4a") {
    p.type = proxy_socks4;
  } else if (url.protocol == "http") {
    p.type = withUser ? proxy_http_pw : proxy_http;
  } else {
    error = "unsupported proxy scheme \"" + url.protocol + "\" (socks4, socks5 or http)";
    return false;
  }
  out = p;
  return true;
}

}  // namespace kvhttp
