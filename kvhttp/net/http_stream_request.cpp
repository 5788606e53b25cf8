// Requests, response heads and bodies of http_stream.
#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>
#include <cstring>

#include "kvhttp/net/detail/ResponseHead.h"
#include "kvhttp/net/http_stream.h"

namespace kvhttp {

namespace asio = boost::asio;
using boost::system::error_code;

namespace {

constexpr std::size_t kReadChunk = 16 * 1024;
// One receive for a body read that finds nothing buffered; callers often ask for far less.
constexpr std::size_t kBodyFill = 64 * 1024;

bool IsPseudoHeader(const std::string& name) {
  return name == kPath || name == kUrl || name == kRequestMethod || name == kHttpVersion ||
         name == kRequestBody || name == kStatusCode;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = char(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = char(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

}  // namespace

void http_stream::Consume(std::size_t n) {
  in_pos_ += n;
  if (in_pos_ >= in_.size()) {
    in_.clear();
    in_pos_ = 0;
  }
}

void http_stream::ReadMore(completion_handler handler) {
  if (in_pos_ > 0 && in_pos_ * 2 >= in_.size()) {
    in_.erase(0, in_pos_);
    in_pos_ = 0;
  }
  const std::size_t old = in_.size();
  in_.resize(old + kReadChunk);
  ReadInto(asio::buffer(&in_[old], kReadChunk),
           [this, old, handler](const error_code& ec, std::size_t n) {
             in_.resize(old + n);
             handler(ec);
           });
}

void http_stream::ReadInto(asio::mutable_buffer buffer, read_handler handler) {
  if (closed_elsewhere_)
    return asio::post(io_, [handler] { handler(asio::error::operation_aborted, 0); });
  if (TlsActive()) return tls_->async_read_some(buffer, std::move(handler));
  tcp_->async_read_some(buffer, std::move(handler));
}

void http_stream::WriteAll(std::string data, completion_handler handler) {
  if (closed_elsewhere_) return Post(std::move(handler), asio::error::operation_aborted);
  out_ = std::move(data);
  auto done = [handler](const error_code& ec, std::size_t) { handler(ec); };
  if (TlsActive()) return asio::async_write(*tls_, asio::buffer(out_), std::move(done));
  asio::async_write(*tcp_, asio::buffer(out_), std::move(done));
}

std::string http_stream::BuildRequest(RequestOptions options) {
  sent_options_.clear();
  auto take = [&](const char* name, const char* fallback) {
    std::string value;
    if (!options.take(name, value)) value = fallback;
    sent_options_.insert(name, value);
    return value;
  };

  std::string url_text;
  if (options.take(kUrl, url_text)) {
    sent_options_.insert(kUrl, url_text);
    error_code ec;
    ParsedUrl parsed = ParseUrl(url_text, ec);
    if (!url_text.empty() && !ec) url_ = std::move(parsed);
  }
  const bool via_http_proxy =
      (proxy_.type == proxy_http || proxy_.type == proxy_http_pw) && url_.protocol == "http";

  request_method_ = take(kRequestMethod, "GET");
  const std::string version = take(kHttpVersion, "HTTP/1.1");
  const std::string host = take("Host", UrlToString(url_, url_host_port).c_str());
  const std::string accept = take("Accept", "text/html, application/xhtml+xml, */*");
  const std::string agent =
      take("User-Agent", "Mozilla/5.0 (Windows NT 6.1; Trident/7.0; rv:11.0) like Gecko");

  const std::string cookie = CookieHeader(
      cookies_, url_.protocol == "https" ? connection_security::secure : connection_security::plain,
      url_.host, url_.path);
  if (!cookie.empty()) sent_options_.insert("Cookie", cookie);

  std::string proxy_authorization;
  if (via_http_proxy) {
    if (proxy_.type == proxy_http_pw)
      proxy_authorization = "Basic " + detail::Base64(proxy_.username + ":" + proxy_.password);
    else if (!url_.user_info.empty())
      proxy_authorization = "Basic " + detail::Base64(url_.user_info);
    if (!proxy_authorization.empty())
      sent_options_.insert("Proxy-Authorization", proxy_authorization);
  }

  const char* connection_name = via_http_proxy ? "Proxy-Connection" : "Connection";
  const std::string connection = take(connection_name, "close");
  const std::string body = take(kRequestBody, "");

  std::string lines;
  for (const auto& [name, value] : options.table()) {
    if (IsPseudoHeader(name)) continue;
    lines += name + ": " + value + "\r\n";
    sent_options_.insert(name, value);
  }

  // A proxy gets the absolute URL; user information stays out of the request line, it is
  // already in Proxy-Authorization.
  const std::string target =
      via_http_proxy ? UrlToString(url_, url_full & ~url_user_info) : UrlToString(url_, url_target);
  sent_options_.insert(kPath, target);

  std::string request = request_method_ + " " + target + " " + version + "\r\n";
  request += "Host: " + host + "\r\n";
  request += "Accept: " + accept + "\r\n";
  request += "User-Agent: " + agent + "\r\n";
  if (!cookie.empty()) request += "Cookie: " + cookie + "\r\n";
  request += std::string(connection_name) + ": " + connection + "\r\n";
  if (!proxy_authorization.empty())
    request += "Proxy-Authorization: " + proxy_authorization + "\r\n";
  request += lines;
  request += "\r\n";
  request += body;
  return request;
}

void http_stream::StartRequest(const RequestOptions& options, completion_handler handler) {
  if (!IsOpen()) return Post(std::move(handler), asio::error::not_connected);
  keep_alive_ = true;
  chunked_ = false;
  decoder_.reset();
  body_bytes_ = 0;
  message_length_ = -1;
  const bool fake_continue = options.fake_continue;
  WriteAll(BuildRequest(options), [this, fake_continue, handler](const error_code& ec) mutable {
    if (ec) return handler(ec);
    if (fake_continue) return handler(make_error_code(errc::fake_continue));
    OnHeadBytes(std::move(handler));
  });
}

void http_stream::OnHeadBytes(completion_handler handler) {
  const std::string_view avail(in_.data() + in_pos_, in_.size() - in_pos_);
  auto more = [this, handler](errc::http_errors at_end) mutable {
    ReadMore([this, handler, at_end](const error_code& ec) mutable {
      if (ec == asio::error::eof && at_end != errc::ok) return handler(make_error_code(at_end));
      if (ec) return handler(ec);
      OnHeadBytes(std::move(handler));
    });
  };

  // The status line is judged as soon as it is complete, so garbage fails at once.
  const std::size_t eol = avail.find("\r\n");
  if (eol == std::string_view::npos) {
    if (avail.size() > detail::kMaxHeadSize)
      return handler(make_error_code(errc::malformed_status_line));
    // The connection closing before any status line is reported as it is.
    return more(avail.empty() ? errc::ok : errc::malformed_status_line);
  }
  detail::StatusLine status;
  if (!detail::ParseStatusLine(avail.substr(0, eol), status))
    return handler(make_error_code(errc::malformed_status_line));

  if (status.status == 100) {
    if (avail.size() < eol + 4) return more(errc::malformed_status_line);
    if (avail.substr(eol + 2, 2) != "\r\n")
      return handler(make_error_code(errc::malformed_status_line));
    Consume(eol + 4);
    if (EqualsIgnoreCase(request_method_, "POST"))
      return handler(make_error_code(errc::continue_request));
    return OnHeadBytes(std::move(handler));
  }

  const std::size_t end = avail.find("\r\n\r\n", eol);
  if (end == std::string_view::npos) {
    if (avail.size() > detail::kMaxHeadSize)
      return handler(make_error_code(errc::malformed_response_headers));
    return more(errc::malformed_response_headers);
  }
  const std::string head(avail.substr(0, end + 4));
  Consume(end + 4);
  const std::string_view h(head);
  handler(ApplyHead(h.substr(0, eol), h.substr(eol + 2, end + 2 - (eol + 2)), status.status));
}

error_code http_stream::ApplyHead(std::string_view status_line, std::string_view header_block,
                                  int status) {
  status_code_ = status;
  response_options_.clear();
  response_options_.insert(kStatusCode, std::to_string(status));
  if (!detail::ParseHeaderLines(header_block, response_options_))
    return make_error_code(errc::malformed_response_headers);

  const detail::HeadFacts facts = detail::ExtractHeadFacts(response_options_);
  content_type_ = facts.content_type;
  content_length_ = facts.content_length;
  message_length_ = facts.message_length;
  if (EqualsIgnoreCase(request_method_, "HEAD") || status == 204 || status == 304)
    message_length_ = 0;
  location_ =
      facts.location.empty() ? std::string() : detail::AbsoluteLocation(url_, facts.location);
  chunked_ = facts.chunked && message_length_ != 0;

  std::string sent_connection;
  sent_options_.find("Connection", sent_connection) ||
      sent_options_.find("Proxy-Connection", sent_connection);
  if (EqualsIgnoreCase(sent_connection, "close") || facts.connection_close) keep_alive_ = false;
  // An HTTP/1.0 server closes after the response unless it says otherwise.
  if (status_line.substr(0, 8) == "HTTP/1.0" &&
      !EqualsIgnoreCase(response_options_.find("Connection"), "keep-alive"))
    keep_alive_ = false;

  cookies_.host = url_.host;
  cookies_.request_path = url_.path;
  for (const auto& [name, value] : response_options_.table())
    if (EqualsIgnoreCase(name, "set-cookie")) ParseSetCookie(cookies_, value);

  if (status != 200 && status != 206) return make_status_error(status);
  return error_code();
}

void http_stream::ReadBody(asio::mutable_buffer buffer, read_handler handler) {
  if (chunked_) return ReadChunked(buffer, std::move(handler));
  auto post = [this](read_handler h, error_code ec, std::size_t n) {
    asio::post(io_, [h = std::move(h), ec, n] { h(ec, n); });
  };

  std::size_t want = buffer.size();
  if (message_length_ >= 0) {
    // The message ends here: never hand out bytes of whatever follows on the connection.
    const std::int64_t left = message_length_ - body_bytes_;
    if (left <= 0)
      return post(std::move(handler), keep_alive_ ? error_code() : asio::error::eof, 0);
    want = static_cast<std::size_t>(std::min<std::int64_t>(left, static_cast<std::int64_t>(want)));
  } else if (keep_alive_ && content_length_ >= 0 && body_bytes_ >= content_length_) {
    return post(std::move(handler), error_code(), 0);
  }
  if (want == 0) return post(std::move(handler), error_code(), 0);

  if (Buffered() > 0) {
    const std::size_t n = std::min(want, Buffered());
    std::memcpy(buffer.data(), in_.data() + in_pos_, n);
    Consume(n);
    body_bytes_ += static_cast<std::int64_t>(n);
    return post(std::move(handler), error_code(), n);
  }
  // Small reads are served from one larger receive. The receive stops at the end of a message
  // of known length, so a response that follows on the connection stays in the socket.
  std::size_t fill = kBodyFill;
  const std::int64_t known_end =
      message_length_ >= 0 ? message_length_ : (keep_alive_ ? content_length_ : -1);
  if (known_end >= 0)
    fill = static_cast<std::size_t>(
        std::min<std::int64_t>(known_end - body_bytes_, static_cast<std::int64_t>(fill)));
  if (fill <= want) {
    ReadInto(asio::buffer(buffer.data(), want),
             [this, handler](const error_code& ec, std::size_t n) {
               body_bytes_ += static_cast<std::int64_t>(n);
               handler(ec, n);
             });
    return;
  }
  in_.clear();
  in_pos_ = 0;
  in_.resize(fill);
  ReadInto(asio::buffer(in_.data(), fill),
           [this, buffer, want, handler](const error_code& ec, std::size_t got) {
             in_.resize(got);
             const std::size_t n = std::min(want, got);
             std::memcpy(buffer.data(), in_.data(), n);
             Consume(n);
             body_bytes_ += static_cast<std::int64_t>(n);
             handler(ec, n);
           });
}

void http_stream::ReadChunked(asio::mutable_buffer buffer, read_handler handler) {
  std::size_t consumed = 0, produced = 0;
  error_code ec;
  decoder_.decode(in_.data() + in_pos_, Buffered(), static_cast<char*>(buffer.data()),
                  buffer.size(), consumed, produced, ec);
  Consume(consumed);
  body_bytes_ += static_cast<std::int64_t>(produced);
  auto post = [this](read_handler h, error_code ec, std::size_t n) {
    asio::post(io_, [h = std::move(h), ec, n] { h(ec, n); });
  };
  // Bytes before a framing fault are delivered; the fault comes with the next read.
  if (produced > 0) return post(std::move(handler), error_code(), produced);
  if (ec) return post(std::move(handler), ec, 0);
  if (decoder_.done() || buffer.size() == 0)
    return post(std::move(handler),
                keep_alive_ || buffer.size() == 0 ? error_code() : asio::error::eof, 0);
  ReadMore([this, buffer, handler](const error_code& ec) mutable {
    if (ec) return handler(ec, 0);
    ReadChunked(buffer, std::move(handler));
  });
}

}  // namespace kvhttp
