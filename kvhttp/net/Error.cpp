#include "kvhttp/net/Error.h"

#include <openssl/x509.h>

#include <cstring>

namespace kvhttp {
namespace detail {
namespace {

const char* MessageOf(int ev) {
  switch (ev) {
    case 1:
      return "Malformed status line";
    case 2:
      return "Malformed response headers";
    case 10:
      return "invalid type requested from entry";
    case 11:
      return "Invalid chunked encoding";
    case 12:
      return "Invalid redirect address";
    case 13:
      return "Redirect from https to plain http refused";
    case 14:
      return "Size differs from the expected size";
    case 15:
      return "Output file in use by another download";
    case 16:
      return "File changed on the server during the download";
    case 17:
      return "Range request answered with other bytes";
    case 100:
      return "Continue";
    case 101:
      return "Switching protocols";
    case 200:
      return "OK";
    case 201:
      return "Created";
    case 202:
      return "Accepted";
    case 203:
      return "Non-authoritative information";
    case 204:
      return "No content";
    case 205:
      return "Reset content";
    case 206:
      return "Partial content";
    case 300:
      return "Multiple choices";
    case 301:
      return "Moved permanently";
    case 302:
      return "Found";
    case 303:
      return "See other";
    case 304:
      return "Not modified";
    case 305:
      return "Use proxy";
    case 307:
      return "Temporary redirect";
    case 400:
      return "Bad request";
    case 401:
      return "Unauthorized";
    case 402:
      return "Payment required";
    case 403:
      return "Forbidden";
    case 404:
      return "Not found";
    case 405:
      return "Method not allowed";
    case 406:
      return "Not acceptable";
    case 407:
      return "Proxy authentication required";
    case 408:
      return "Request time-out";
    case 409:
      return "Conflict";
    case 410:
      return "Gone";
    case 411:
      return "Length required";
    case 412:
      return "Precondition failed";
    case 413:
      return "Request entity too large";
    case 414:
      return "Request URI too large";
    case 415:
      return "Unsupported media type";
    case 416:
      return "Requested range not satisfiable";
    case 417:
      return "Expectation failed";
    case 500:
      return "Internal server error";
    case 501:
      return "Not implemented";
    case 502:
      return "Bad gateway";
    case 503:
      return "Service unavailable";
    case 504:
      return "Gateway time-out";
    case 505:
      return "HTTP version not supported";
    case 1000:
      return "SOCKS unsupported version";
    case 1001:
      return "SOCKS username required";
    case 1002:
      return "SOCKS unsupported authentication version";
    case 1003:
      return "SOCKS authentication error";
    case 1004:
      return "SOCKS general failure";
    case 1005:
      return "SOCKS command not supported";
    case 1006:
      return "SOCKS no identd running";
    case 1007:
      return "SOCKS no identd running";
    case 1008:
      return "Fake continue";
    default:
      return "Unknown HTTP error";
  }
}

}  // namespace

const char* error_category_impl::name() const noexcept {
  return "HTTP";
}

std::string error_category_impl::message(int ev) const {
  return MessageOf(ev);
}

const char* error_category_impl::message(int ev, char* buffer, std::size_t len) const noexcept {
  if (len == 0) return buffer;
  const char* text = MessageOf(ev);
  if (text == nullptr) text = "Message text unavailable";
  std::strncpy(buffer, text, len - 1);
  buffer[len - 1] = '\0';
  return buffer;
}

boost::system::error_condition error_category_impl::default_error_condition(int ev) const noexcept {
  using boost::system::errc::make_error_condition;
  if (ev == 401 || ev == 403) return make_error_condition(boost::system::errc::permission_denied);
  if (ev == 404) return make_error_condition(boost::system::errc::no_such_file_or_directory);
  return boost::system::error_condition(ev, *this);
}

class certificate_category_impl : public boost::system::error_category {
 public:
  const char* name() const noexcept override { return "certificate"; }
  std::string message(int ev) const override {
    return std::string("certificate verification failed: ") + X509_verify_cert_error_string(ev);
  }
};

}  // namespace detail

const boost::system::error_category& error_category() {
  static const detail::error_category_impl instance;
  return instance;
}

const boost::system::error_category& certificate_category() {
  static const detail::certificate_category_impl instance;
  return instance;
}

}  // namespace kvhttp
