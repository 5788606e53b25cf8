// A URL split into its parts, and its text forms. Plain values: any thread.
#pragma once

#include <boost/system/error_code.hpp>
#include <cstdint>
#include <string>
#include <string_view>

namespace kvhttp {

struct ParsedUrl {
  std::string protocol;   // lower case
  std::string user_info;  // "user" or "user:password", without "@"
  std::string host;       // without brackets for an IPv6 literal
  std::string port;       // decimal text, may be empty
  std::string path;       // "/" when the text had none
  std::string query;      // without "?"
  std::string fragment;   // without "#"
  bool ipv6 = false;      // host was written in brackets

  bool empty() const { return protocol.empty() && host.empty(); }
};

// Bits of the part mask of UrlToString; they combine.
enum url_part : std::uint32_t {
  url_protocol = 1,
  url_user_info = 2,
  url_host = 4,
  url_port = 8,
  url_path = 16,
  url_query = 32,
  url_fragment = 64,
  url_host_port = url_host | url_port,               // the "Host" header
  url_target = url_path | url_query | url_fragment,  // the request target
  url_full = 127,
};

// Splits `text`. A text without "scheme://" or with a port that is not decimal gives
// errc::invalid_argument and an empty URL.
ParsedUrl ParseUrl(std::string_view text, boost::system::error_code& ec);

// Joins the parts selected by `mask` (url_part bits).
std::string UrlToString(const ParsedUrl& url, std::uint32_t mask = url_full);

// The port as a number: the port text, else 80 for http, 443 for https, 21 for ftp, else 0.
// A port text above 65535 gives 0.
int UrlPort(const ParsedUrl& url);

}  // namespace kvhttp
