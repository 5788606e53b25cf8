// Connecting an http_stream: name resolution, SOCKS 4/5, CONNECT tunnels and TLS.
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>
#include <unistd.h>

#include <boost/asio/connect.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/ssl/error.hpp>
#include <boost/asio/streambuf.hpp>
#include <boost/asio/write.hpp>
#include <cerrno>

#include "kvhttp/net/detail/ResponseHead.h"
#include "kvhttp/net/http_stream.h"

namespace kvhttp {

namespace asio = boost::asio;
using boost::system::error_code;

namespace {

constexpr const char* kDefaultAccept = "text/html, application/xhtml+xml, */*";
constexpr const char* kDefaultUserAgent =
    "Mozilla/5.0 (Windows NT 6.1; Trident/7.0; rv:11.0) like Gecko";

bool IsIpLiteral(const std::string& host) {
  error_code ec;
  asio::ip::make_address(host, ec);
  return !ec;
}

}  // namespace

http_stream::tcp::socket& http_stream::Tcp() {
  return tls_ ? tls_->next_layer() : *tcp_;
}

void http_stream::ConnectTcp(const std::string& host, const std::string& port,
                             completion_handler handler) {
  resolver_.async_resolve(
      host, port, tcp::resolver::address_configured,
      [this, host, port, handler = std::move(handler)](
          const error_code& ec, tcp::resolver::results_type results) mutable {
        if (closed_elsewhere_ || ec == asio::error::operation_aborted)
          return handler(asio::error::operation_aborted);
        if (!ec) return OnResolved(std::move(results), std::move(handler));
        // A machine with nothing but loopback counts no family as configured, which would
        // make servers on 127.0.0.1 or ::1 unreachable; ask again for every family.
        resolver_.async_resolve(
            host, port, tcp::resolver::flags(),
            [this, handler = std::move(handler)](const error_code& ec,
                                                 tcp::resolver::results_type results) mutable {
              if (ec || closed_elsewhere_) return handler(ec ? ec : asio::error::operation_aborted);
              OnResolved(std::move(results), std::move(handler));
            });
      });
}

void http_stream::OnResolved(tcp::resolver::results_type results, completion_handler handler) {
  auto endpoints = std::make_shared<tcp::resolver::results_type>(std::move(results));
  ConnectEndpoints(endpoints, endpoints->begin(), asio::error::host_not_found, std::move(handler));
}

void http_stream::ConnectEndpoints(std::shared_ptr<tcp::resolver::results_type> endpoints,
                                   tcp::resolver::results_type::const_iterator it, error_code last,
                                   completion_handler handler) {
  if (it == endpoints->end()) return handler(last);
  if (timed_out_ || closed_elsewhere_) return handler(asio::error::operation_aborted);
  {
    std::lock_guard<std::mutex> lock(close_mutex_);
    error_code ignored;
    Tcp().close(ignored);
    // Made close-on-exec from the start: a program started meanwhile must not inherit it.
    const tcp protocol = it->endpoint().protocol();
    const int fd = ::socket(protocol.family(), SOCK_STREAM | SOCK_CLOEXEC, protocol.protocol());
    error_code ec;
    if (fd < 0) {
      ec = error_code(errno, boost::system::system_category());
    } else {
      Tcp().assign(protocol, fd, ec);
      if (ec) ::close(fd);
    }
    if (ec) {
      return asio::post(io_, [this, endpoints, it, ec, handler = std::move(handler)]() mutable {
        ConnectEndpoints(endpoints, std::next(it), ec, std::move(handler));
      });
    }
  }
  Tcp().async_connect(it->endpoint(), [this, endpoints, it,
                                       handler = std::move(handler)](const error_code& ec) mutable {
    if (!ec) return handler(ec);
    ConnectEndpoints(endpoints, std::next(it), ec, std::move(handler));
  });
}

void http_stream::Socks5Handshake(completion_handler handler) {
  const bool with_user = !proxy_.username.empty();
  scratch_ =
      with_user ? std::vector<unsigned char>{5, 2, 0, 2} : std::vector<unsigned char>{5, 1, 0};
  asio::async_write(
      Tcp(), asio::buffer(scratch_),
      [this, with_user, handler](const error_code& ec, std::size_t) mutable {
        if (ec) return handler(ec);
        scratch_.assign(2, 0);
        asio::async_read(
            Tcp(), asio::buffer(scratch_),
            [this, with_user, handler](const error_code& ec, std::size_t) mutable {
              if (ec) return handler(ec);
              if (scratch_[0] != 5)
                return handler(make_error_code(errc::socks_unsupported_version));
              const unsigned method = scratch_[1];
              if (method == 0) return Socks5Connect(std::move(handler));
              if (method != 2) {
                return handler(make_error_code(with_user ? errc::socks_general_failure
                                                         : errc::socks_username_required));
              }
              if (!with_user) return handler(make_error_code(errc::socks_username_required));
              if (proxy_.username.size() > 255 || proxy_.password.size() > 255)
                return handler(make_error_code(errc::socks_authentication_error));
              scratch_.clear();
              scratch_.push_back(1);
              scratch_.push_back(static_cast<unsigned char>(proxy_.username.size()));
              scratch_.insert(scratch_.end(), proxy_.username.begin(), proxy_.username.end());
              scratch_.push_back(static_cast<unsigned char>(proxy_.password.size()));
              scratch_.insert(scratch_.end(), proxy_.password.begin(), proxy_.password.end());
              asio::async_write(
                  Tcp(), asio::buffer(scratch_),
                  [this, handler](const error_code& ec, std::size_t) mutable {
                    if (ec) return handler(ec);
                    scratch_.assign(2, 0);
                    asio::async_read(
                        Tcp(), asio::buffer(scratch_),
                        [this, handler](const error_code& ec, std::size_t) mutable {
                          if (ec) return handler(ec);
                          if (scratch_[0] != 1)
                            return handler(
                                make_error_code(errc::socks_unsupported_authentication_version));
                          if (scratch_[1] != 0)
                            return handler(make_error_code(errc::socks_authentication_error));
                          Socks5Connect(std::move(handler));
                        });
                  });
            });
      });
}

void http_stream::Socks5Connect(completion_handler handler) {
  // The proxy resolves the target's name.
  const std::string& host = url_.host;
  if (host.empty() || host.size() > 255) return handler(asio::error::invalid_argument);
  const int port = UrlPort(url_);
  scratch_ = {5, 1, 0, 3, static_cast<unsigned char>(host.size())};
  scratch_.insert(scratch_.end(), host.begin(), host.end());
  scratch_.push_back(static_cast<unsigned char>(port >> 8));
  scratch_.push_back(static_cast<unsigned char>(port & 0xff));
  asio::async_write(
      Tcp(), asio::buffer(scratch_), [this, handler](const error_code& ec, std::size_t) mutable {
        if (ec) return handler(ec);
        // Version and reply first: a refusing proxy may close before sending an address.
        scratch_.assign(2, 0);
        asio::async_read(
            Tcp(), asio::buffer(scratch_),
            [this, handler](const error_code& ec, std::size_t) mutable {
              if (ec) return handler(ec);
              if (scratch_[0] != 5)
                return handler(make_error_code(errc::socks_unsupported_version));
              if (scratch_[1] == 7)
                return handler(make_error_code(errc::socks_command_not_supported));
              if (scratch_[1] != 0) return handler(make_error_code(errc::socks_general_failure));
              scratch_.assign(3, 0);  // reserved, address type, first address byte
              asio::async_read(
                  Tcp(), asio::buffer(scratch_),
                  [this, handler](const error_code& ec, std::size_t) mutable {
                    if (ec) return handler(ec);
                    std::size_t rest = 0;  // bytes after the first address byte, port included
                    switch (scratch_[1]) {
                      case 1:
                        rest = 3 + 2;
                        break;
                      case 3:
                        rest = scratch_[2] + 2u;
                        break;
                      case 4:
                        rest = 15 + 2;
                        break;
                      default:
                        return handler(make_error_code(errc::socks_general_failure));
                    }
                    scratch_.assign(rest, 0);
                    asio::async_read(
                        Tcp(), asio::buffer(scratch_),
                        [handler](const error_code& ec, std::size_t) mutable { handler(ec); });
                  });
            });
      });
}

void http_stream::Socks4Handshake(completion_handler handler) {
  // SOCKS 4 carries an IPv4 address, so the name is resolved here.
  resolver_.async_resolve(
      tcp::v4(), url_.host, std::to_string(UrlPort(url_)),
      [this, handler](const error_code& ec, tcp::resolver::results_type results) mutable {
        if (ec) return handler(ec);
        if (results.empty()) return handler(asio::error::host_not_found);
        const tcp::endpoint target = results.begin()->endpoint();
        const auto address = target.address().to_v4().to_bytes();
        const unsigned port = target.port();
        scratch_ = {4, 1, static_cast<unsigned char>(port >> 8),
                    static_cast<unsigned char>(port & 0xff)};
        scratch_.insert(scratch_.end(), address.begin(), address.end());
        scratch_.insert(scratch_.end(), proxy_.username.begin(), proxy_.username.end());
        scratch_.push_back(0);
        asio::async_write(
            Tcp(), asio::buffer(scratch_),
            [this, handler](const error_code& ec, std::size_t) mutable {
              if (ec) return handler(ec);
              scratch_.assign(8, 0);
              asio::async_read(
                  Tcp(), asio::buffer(scratch_),
                  [this, handler](const error_code& ec, std::size_t) mutable {
                    if (ec) return handler(ec);
                    switch (scratch_[1]) {
                      case 90:
                        return handler(error_code());
                      case 91:
                        return handler(make_error_code(errc::socks_authentication_error));
                      case 92:
                        return handler(make_error_code(errc::socks_no_identd));
                      case 93:
                        return handler(make_error_code(errc::socks_identd_error));
                      default:
                        return handler(make_error_code(errc::socks_general_failure));
                    }
                  });
            });
      });
}

void http_stream::ConnectTunnel(completion_handler handler) {
  const std::string target = UrlToString(url_, url_host) + ":" + std::to_string(UrlPort(url_));
  out_ = "CONNECT " + target + " HTTP/1.1\r\nHost: " + target + "\r\nAccept: " + kDefaultAccept +
         "\r\nUser-Agent: " + kDefaultUserAgent + "\r\n";
  if (proxy_.type == proxy_http_pw)
    out_ += "Proxy-Authorization: Basic " +
            detail::Base64(proxy_.username + ":" + proxy_.password) + "\r\n";
  out_ += "\r\n";
  asio::async_write(Tcp(), asio::buffer(out_),
                    [this, handler](const error_code& ec, std::size_t) mutable {
                      if (ec) return handler(ec);
                      auto reply = std::make_shared<asio::streambuf>(detail::kMaxHeadSize);
                      // Reads byte-wise past the head would eat the server's first TLS bytes;
                      // proxies send nothing after the empty line until we speak, so read_until is
                      // safe here.
                      asio::async_read_until(
                          Tcp(), *reply, "\r\n\r\n",
                          [reply, handler](const error_code& ec, std::size_t n) mutable {
                            if (ec == asio::error::not_found)
                              return handler(make_error_code(errc::malformed_response_headers));
                            if (ec) return handler(ec);
                            const std::string head(asio::buffers_begin(reply->data()),
                                                   asio::buffers_begin(reply->data()) + n);
                            detail::StatusLine status;
                            if (!detail::ParseStatusLine(
                                    std::string_view(head).substr(0, head.find("\r\n")), status))
                              return handler(make_error_code(errc::malformed_status_line));
                            if (status.status != 200)
                              return handler(make_status_error(status.status));
                            handler(error_code());
                          });
                    });
}

error_code http_stream::SetupTls() {
  error_code ec;
  auto context = std::make_unique<asio::ssl::context>(asio::ssl::context::tls_client);
  if (check_certificate_) {
    // The system store; SSL_CERT_FILE and SSL_CERT_DIR point elsewhere when set.
    context->set_default_verify_paths(ec);
    ec.clear();
    context->set_verify_mode(asio::ssl::verify_peer, ec);
    if (ec) return ec;
  }
  if (!ca_file_.empty()) {
    context->load_verify_file(ca_file_, ec);
    if (ec) return ec;
  }
  if (!ca_directory_.empty()) {
    context->add_verify_path(ca_directory_, ec);
    if (ec) return ec;
  }
  std::lock_guard<std::mutex> lock(close_mutex_);
  tls_context_ = std::move(context);
  tls_ = std::make_unique<ssl_socket>(io_, *tls_context_);
  SSL* ssl = tls_->native_handle();
  const bool ip = url_.ipv6 || IsIpLiteral(url_.host);
  // Server names only: an address in the name indication is not allowed.
  if (!ip) SSL_set_tlsext_host_name(ssl, url_.host.c_str());
  if (check_certificate_) {
    X509_VERIFY_PARAM* param = SSL_get0_param(ssl);
    X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    const int ok = ip ? X509_VERIFY_PARAM_set1_ip_asc(param, url_.host.c_str())
                      : X509_VERIFY_PARAM_set1_host(param, url_.host.c_str(), url_.host.size());
    if (ok != 1) return asio::error::invalid_argument;
  }
  return ec;
}

void http_stream::TlsHandshake(completion_handler handler) {
  if (timed_out_ || closed_elsewhere_) return handler(asio::error::operation_aborted);
  tls_->async_handshake(
      asio::ssl::stream_base::client, [this, handler](const error_code& ec) mutable {
        if (ec && check_certificate_) {
          const long result = SSL_get_verify_result(tls_->native_handle());
          if (result != X509_V_OK) {
            // Say why the certificate was refused rather than the bare handshake failure.
            return handler(error_code(static_cast<int>(result), certificate_category()));
          }
        }
        handler(ec);
      });
}

}  // namespace kvhttp
