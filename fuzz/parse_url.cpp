// URL parsing; the full text form of a parsed URL parses back to the same parts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "kvhttp/net/ParsedUrl.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  boost::system::error_code ec;
  const kvhttp::ParsedUrl url = kvhttp::ParseUrl(text, ec);
  kvhttp::UrlPort(url);
  if (ec) return 0;
  for (std::uint32_t mask : {1u, 12u, 112u}) kvhttp::UrlToString(url, mask);
  // The text form leaves out "://" for no protocol and "@" for empty user information, so
  // those do not come back the same.
  if (url.protocol.empty() || (url.user_info.empty() && url.host.find('@') != std::string::npos))
    return 0;
  const kvhttp::ParsedUrl again = kvhttp::ParseUrl(kvhttp::UrlToString(url, kvhttp::url_full), ec);
  if (ec || again.protocol != url.protocol || again.user_info != url.user_info ||
      again.host != url.host || again.port != url.port || again.path != url.path ||
      again.query != url.query || again.fragment != url.fragment || again.ipv6 != url.ipv6)
    std::abort();
  return 0;
}
