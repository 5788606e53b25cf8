#include "kvhttp/net/ParsedUrl.h"

#include <algorithm>

namespace kvhttp {
namespace {

char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

ParsedUrl Fail(boost::system::error_code& ec) {
  ec = boost::system::errc::make_error_code(boost::system::errc::invalid_argument);
  return {};
}

}  // namespace

ParsedUrl ParseUrl(std::string_view text, boost::system::error_code& ec) {
  ec.clear();
  ParsedUrl url;
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos || text.substr(colon, 3) != "://") return Fail(ec);
  url.protocol.reserve(colon);
  for (char c : text.substr(0, colon)) url.protocol.push_back(Lower(c));

  std::string_view rest = text.substr(colon + 3);
  std::size_t at = rest.find_first_of("@:[/?#");
  if (at != std::string_view::npos && rest[at] == ':') {
    // "user:password@host" puts everything before "@" into the user information.
    const std::size_t next = rest.find_first_of("@/?#", at);
    if (next != std::string_view::npos && rest[next] == '@') at = next;
  }
  if (at != std::string_view::npos && rest[at] == '@') {
    url.user_info = std::string(rest.substr(0, at));
    rest.remove_prefix(at + 1);
  }

  if (!rest.empty() && rest.front() == '[') {
    const std::size_t close = rest.find(']');
    if (close == std::string_view::npos) return Fail(ec);
    url.host = std::string(rest.substr(1, close - 1));
    url.ipv6 = true;
    rest.remove_prefix(close + 1);
  } else {
    const std::size_t end = std::min(rest.find_first_of(":/?#"), rest.size());
    url.host = std::string(rest.substr(0, end));
    rest.remove_prefix(end);
  }

  if (!rest.empty() && rest.front() == ':') {
    rest.remove_prefix(1);
    const std::size_t end = std::min(rest.find_first_of("/?#"), rest.size());
    const std::string_view port = rest.substr(0, end);
    if (port.empty() ||
        !std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; }))
      return Fail(ec);
    url.port = std::string(port);
    rest.remove_prefix(end);
  } else if (!rest.empty() && rest.front() != '/' && rest.front() != '?' && rest.front() != '#') {
    return Fail(ec);  // "]x" after an IPv6 literal
  }

  const std::size_t path_end = std::min(rest.find_first_of("?#"), rest.size());
  url.path = path_end == 0 ? std::string("/") : std::string(rest.substr(0, path_end));
  rest.remove_prefix(path_end);
  if (!rest.empty() && rest.front() == '?') {
    const std::size_t end = std::min(rest.find('#'), rest.size());
    url.query = std::string(rest.substr(1, end - 1));
    rest.remove_prefix(end);
  }
  if (!rest.empty() && rest.front() == '#') url.fragment = std::string(rest.substr(1));
  return url;
}

std::string UrlToString(const ParsedUrl& url, std::uint32_t mask) {
  std::string out;
  if ((mask & url_protocol) && !url.protocol.empty()) out += url.protocol + "://";
  if ((mask & url_user_info) && !url.user_info.empty()) out += url.user_info + "@";
  if (mask & url_host) out += url.ipv6 ? "[" + url.host + "]" : url.host;
  if ((mask & url_port) && !url.port.empty()) out += ":" + url.port;
  if ((mask & url_path) && !url.path.empty()) out += url.path;
  if ((mask & url_query) && !url.query.empty()) out += "?" + url.query;
  if ((mask & url_fragment) && !url.fragment.empty()) out += "#" + url.fragment;
  return out;
}

int UrlPort(const ParsedUrl& url) {
  if (!url.port.empty()) {
    if (url.port.size() > 5) return 0;
    const int port = std::stoi(url.port);
    return port <= 65535 ? port : 0;
  }
  if (url.protocol == "http") return 80;
  if (url.protocol == "https") return 443;
  if (url.protocol == "ftp") return 21;
  return 0;
}

}  // namespace kvhttp
