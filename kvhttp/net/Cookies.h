// The cookie jar of one HTTP stream and the cookie date reader. Plain values: the jar is used
// by its stream's thread only; the functions are thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kvhttp {

struct Cookie {
  std::string name;
  std::string value;
  std::string domain;  // lower case, no leading "."
  std::string path;
  std::int64_t expires = -1;  // seconds since 1970 UTC; -1 for a session cookie
  bool secure = false;
  bool http_only = false;
  bool host_only = true;  // no Domain attribute: only this very host
};

struct CookieJar {
  // Host and path of the response being read; cookies without a domain or path take them.
  std::string host;
  std::string request_path = "/";
  std::vector<Cookie> cookies;
};

// Stores the cookies of one "Set-Cookie" value. A cookie for a domain that does not cover the
// jar's host is ignored; an expiry in the past removes the stored cookie of that name.
void ParseSetCookie(CookieJar& jar, std::string_view value);

enum class connection_security { plain, secure };

// The "Cookie" header value for a request to host/path: "a=1; b=2", longer paths first;
// secure cookies only on a secure connection, expired cookies left out. Empty when none apply.
std::string CookieHeader(const CookieJar& jar, connection_security security, std::string_view host,
                         std::string_view path);

// Reads a cookie date ("Sun, 06 Nov 1994 08:49:37 GMT" and its older forms) as seconds since
// 1970 UTC. False when the text is no date; a year before 1970 fails with `time` 0.
bool ParseCookieDate(std::string_view text, std::int64_t& time);
// The same, giving -1 when the text is no date.
std::int64_t ParseCookieDate(std::string_view text);

}  // namespace kvhttp
