// Set-Cookie values into a jar, then the Cookie header for requests: any bytes, never a crash,
// and the header never carries a line break or a secure cookie over a plain connection.
// Input: the response's host, its path, then one Set-Cookie value per line.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "kvhttp/net/Cookies.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  auto line = [&in]() {
    const std::size_t nl = in.find('\n');
    std::string_view l = in.substr(0, nl);
    in = nl == std::string_view::npos ? std::string_view() : in.substr(nl + 1);
    return l;
  };
  kvhttp::CookieJar jar;
  jar.host = std::string(line());
  jar.request_path = std::string(line());
  while (!in.empty()) kvhttp::ParseSetCookie(jar, line());

  for (const std::string& path : {jar.request_path, std::string("/"), std::string("/a/b")}) {
    const std::string plain =
        kvhttp::CookieHeader(jar, kvhttp::connection_security::plain, jar.host, path);
    const std::string secure =
        kvhttp::CookieHeader(jar, kvhttp::connection_security::secure, jar.host, path);
    if (plain.find_first_of("\r\n") != std::string::npos) std::abort();
    if (secure.size() < plain.size()) std::abort();
    for (const kvhttp::Cookie& c : jar.cookies) {
      if (!c.secure || c.name.empty()) continue;
      // A secure cookie's own pair must not appear in a plain request unless a non-secure
      // cookie of the same pair exists too.
      bool twin = false;
      for (const kvhttp::Cookie& o : jar.cookies)
        twin = twin || (!o.secure && o.name == c.name && o.value == c.value);
      const std::string pair = c.name + "=" + c.value;
      if (!twin && plain == pair) std::abort();
    }
  }
  return 0;
}
