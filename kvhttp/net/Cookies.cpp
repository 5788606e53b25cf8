#include "kvhttp/net/Cookies.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>

namespace kvhttp {
namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return out;
}

bool IsIpAddress(std::string_view host) {
  return host.find(':') != std::string_view::npos ||
         host.find_first_not_of("0123456789.") == std::string_view::npos;
}

// RFC 6265 5.1.3: the host equals the domain or ends with "." and the domain (names only).
bool DomainMatches(std::string_view host, std::string_view domain) {
  if (host == domain) return true;
  if (IsIpAddress(host) || domain.empty() || host.size() <= domain.size()) return false;
  return host.substr(host.size() - domain.size()) == domain &&
         host[host.size() - domain.size() - 1] == '.';
}

// RFC 6265 5.1.4.
bool PathMatches(std::string_view request_path, std::string_view cookie_path) {
  if (request_path == cookie_path) return true;
  if (request_path.size() <= cookie_path.size() ||
      request_path.substr(0, cookie_path.size()) != cookie_path)
    return false;
  return cookie_path.back() == '/' || request_path[cookie_path.size()] == '/';
}

// RFC 6265 5.1.4: the directory of the request path.
std::string DefaultPath(std::string_view request_path) {
  if (request_path.empty() || request_path.front() != '/') return "/";
  const std::size_t slash = request_path.rfind('/');
  return slash == 0 ? "/" : std::string(request_path.substr(0, slash));
}

// A name or value that would break the Cookie header line it goes into (RFC 6265 leaves
// control characters out of cookies).
bool HasControl(std::string_view s) {
  for (unsigned char c : s)
    if (c < 0x20 || c == 0x7f) return true;
  return false;
}

struct Attributes {
  std::string domain;
  std::string path;
  std::int64_t expires = -1;
  bool secure = false;
  bool http_only = false;
};

}  // namespace

void ParseSetCookie(CookieJar& jar, std::string_view value) {
  Attributes attr;
  std::vector<std::pair<std::string, std::string>> pairs;
  const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
  while (!value.empty()) {
    const std::size_t semi = std::min(value.find(';'), value.size());
    const std::string_view item = value.substr(0, semi);
    value.remove_prefix(std::min(semi + 1, value.size()));
    const std::size_t eq = item.find('=');
    const std::string_view name = Trim(item.substr(0, eq));
    const std::string_view val = eq == std::string_view::npos ? "" : Trim(item.substr(eq + 1));
    if (name.empty()) continue;
    if (HasControl(name) || HasControl(val)) continue;
    const std::string key = Lower(name);
    if (key == "secure") {
      attr.secure = true;
    } else if (key == "httponly") {
      attr.http_only = true;
    } else if (key == "domain") {
      std::string_view d = val;
      while (!d.empty() && d.front() == '.') d.remove_prefix(1);
      attr.domain = Lower(d);
    } else if (key == "path") {
      attr.path = std::string(val);
    } else if (key == "expires") {
      std::int64_t t = -1;
      if (ParseCookieDate(val, t)) {
        attr.expires = t;
      } else {
        char* end = nullptr;
        const std::string text(val);
        const long long seconds = std::strtoll(text.c_str(), &end, 10);
        if (end != text.c_str() && seconds >= 0 && seconds < (1LL << 40))
          attr.expires = now + seconds;
      }
    } else if (key == "max-age") {
      // Max-Age outranks Expires (RFC 6265 5.3); zero or less expires the cookie now.
      char* end = nullptr;
      const std::string text(val);
      const long long seconds = std::strtoll(text.c_str(), &end, 10);
      if (end != text.c_str() && *end == '\0')
        attr.expires = seconds <= 0 ? 0 : now + std::min<long long>(seconds, 1LL << 40);
    } else if (key == "samesite" || key == "version" || key == "comment") {
      // Attributes that do not change which requests carry the cookie.
    } else if (eq != std::string_view::npos) {
      pairs.emplace_back(std::string(name), std::string(val));
    }
  }

  const std::string host = Lower(jar.host);
  const bool host_only = attr.domain.empty();
  if (!host_only && !DomainMatches(host, attr.domain)) return;  // a cookie for someone else
  const std::string domain = host_only ? host : attr.domain;
  const std::string path =
      (attr.path.empty() || attr.path.front() != '/') ? DefaultPath(jar.request_path) : attr.path;

  for (auto& pair : pairs) {
    const std::string& name = pair.first;
    auto& list = jar.cookies;
    list.erase(std::remove_if(list.begin(), list.end(),
                              [&](const Cookie& c) {
                                return c.name == name && c.domain == domain && c.path == path;
                              }),
               list.end());
    if (attr.expires != -1 && attr.expires <= now) continue;  // a deletion
    Cookie c;
    c.name = pair.first;
    c.value = std::move(pair.second);
    c.domain = domain;
    c.path = path;
    c.expires = attr.expires;
    c.secure = attr.secure;
    c.http_only = attr.http_only;
    c.host_only = host_only;
    list.push_back(std::move(c));
  }
}

std::string CookieHeader(const CookieJar& jar, connection_security security, std::string_view host,
                         std::string_view path) {
  const std::string h = Lower(host);
  const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
  std::vector<const Cookie*> match;
  for (const Cookie& c : jar.cookies) {
    if (c.secure && security != connection_security::secure) continue;
    if (c.expires != -1 && c.expires <= now) continue;
    if (c.host_only ? h != c.domain : !DomainMatches(h, c.domain)) continue;
    if (!PathMatches(path.empty() ? "/" : path, c.path)) continue;
    match.push_back(&c);
  }
  // Longer paths first; the stable sort keeps the order of storage among equals.
  std::stable_sort(match.begin(), match.end(), [](const Cookie* a, const Cookie* b) {
    return a->path.size() > b->path.size();
  });
  std::string out;
  for (const Cookie* c : match) {
    if (!out.empty()) out += "; ";
    out += c->name + "=" + c->value;
  }
  return out;
}

}  // namespace kvhttp
