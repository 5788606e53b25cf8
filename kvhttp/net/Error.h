// The engine's "HTTP" error category: parser and proxy failures, and HTTP status codes that
// end a request (the value is the status itself). Thread-safe.
#pragma once

#include <boost/system/error_code.hpp>
#include <type_traits>

namespace kvhttp {

namespace errc {
enum http_errors {
  malformed_status_line = 1,
  malformed_response_headers = 2,
  invalid_entry_type = 10,
  invalid_chunked_encoding = 11,
  invalid_redirect = 12,
  // Codes of this engine's own checks (13 to 17).
  insecure_redirect = 13,  // https answered with a redirect to plain http
  size_mismatch = 14,      // the server's size is not the size the caller expects
  output_locked = 15,      // another download holds the output file
  resource_changed = 16,   // the file changed on the server more than once during one run
  wrong_range = 17,        // a range request answered with other bytes (200, shifted range)
  continue_request = 100,
  switching_protocols = 101,
  ok = 200,
  created = 201,
  accepted = 202,
  non_authoritative_information = 203,
  no_content = 204,
  reset_content = 205,
  partial_content = 206,
  multiple_choices = 300,
  moved_permanently = 301,
  found = 302,
  see_other = 303,
  not_modified = 304,
  use_proxy = 305,
  temporary_redirect = 307,
  bad_request = 400,
  unauthorized = 401,
  payment_required = 402,
  forbidden = 403,
  not_found = 404,
  method_not_allowed = 405,
  not_acceptable = 406,
  proxy_authentication_required = 407,
  request_timeout = 408,
  conflict = 409,
  gone = 410,
  length_required = 411,
  precondition_failed = 412,
  request_entity_too_large = 413,
  request_uri_too_large = 414,
  unsupported_media_type = 415,
  requested_range_not_satisfiable = 416,
  expectation_failed = 417,
  internal_server_error = 500,
  not_implemented = 501,
  bad_gateway = 502,
  service_unavailable = 503,
  gateway_timeout = 504,
  http_version_not_supported = 505,
  socks_unsupported_version = 1000,
  socks_username_required = 1001,
  socks_unsupported_authentication_version = 1002,
  socks_authentication_error = 1003,
  socks_general_failure = 1004,
  socks_command_not_supported = 1005,
  socks_no_identd = 1006,
  socks_identd_error = 1007,
  fake_continue = 1008,
};
}  // namespace errc

namespace detail {
class error_category_impl : public boost::system::error_category {
 public:
  const char* name() const noexcept override;
  std::string message(int ev) const override;
  const char* message(int ev, char* buffer, std::size_t len) const noexcept override;
  boost::system::error_condition default_error_condition(int ev) const noexcept override;
};
}  // namespace detail

const boost::system::error_category& error_category();

// Why a server certificate was refused: the value is OpenSSL's verification result
// (X509_V_ERR_*), the message says so in words, e.g. "certificate verification failed:
// hostname mismatch".
const boost::system::error_category& certificate_category();

inline boost::system::error_code make_error_code(errc::http_errors e) {
  return boost::system::error_code(static_cast<int>(e), error_category());
}
// An HTTP status as an error of this category.
inline boost::system::error_code make_status_error(int status) {
  return boost::system::error_code(status, error_category());
}

namespace errc {
// Found by argument-dependent lookup, so that an errc value converts to an error_code.
using kvhttp::make_error_code;
}  // namespace errc

}  // namespace kvhttp

namespace boost::system {
template <>
struct is_error_code_enum<kvhttp::errc::http_errors> : std::true_type {};
}  // namespace boost::system
