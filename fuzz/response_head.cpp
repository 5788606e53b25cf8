// Response heads as the stream parses them: status line, header lines, facts, cookies.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "kvhttp/net/Cookies.h"
#include "kvhttp/net/detail/ResponseHead.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::size_t eol = text.find("\r\n");
  if (eol == std::string_view::npos) return 0;
  kvhttp::detail::StatusLine status;
  if (!kvhttp::detail::ParseStatusLine(text.substr(0, eol), status)) return 0;
  const std::size_t end = text.find("\r\n\r\n", eol);
  const std::string_view block = end == std::string_view::npos
                                     ? text.substr(eol + 2)
                                     : text.substr(eol + 2, end + 2 - (eol + 2));
  kvhttp::RequestOptions headers;
  if (!kvhttp::detail::ParseHeaderLines(block, headers)) return 0;
  const kvhttp::detail::HeadFacts facts = kvhttp::detail::ExtractHeadFacts(headers);
  boost::system::error_code ec;
  const kvhttp::ParsedUrl base = kvhttp::ParseUrl("http://host:8080/dir/file?q=/x", ec);
  if (!facts.location.empty()) {
    const std::string absolute = kvhttp::detail::AbsoluteLocation(base, facts.location);
    kvhttp::ParseUrl(absolute, ec);
  }
  kvhttp::CookieJar jar;
  jar.host = "host";
  jar.request_path = "/dir/file";
  for (const auto& [name, value] : headers.table()) {
    if (name == "Set-Cookie" || name == "set-cookie") kvhttp::ParseSetCookie(jar, value);
  }
  kvhttp::CookieHeader(jar, kvhttp::connection_security::secure, "host", "/dir/x");
  return 0;
}
