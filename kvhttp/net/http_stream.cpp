// Opening, redirects, closing and the synchronous forms of http_stream.
#include "kvhttp/net/http_stream.h"

#include <sys/socket.h>

#include <boost/asio/post.hpp>
#include <boost/system/system_error.hpp>

namespace kvhttp {

namespace asio = boost::asio;
using boost::system::error_code;

http_stream::http_stream(asio::io_context& io) : io_(io), resolver_(io), deadline_(io) {}

http_stream::~http_stream() {
  deadline_.cancel();
  resolver_.cancel();
  error_code ignored;
  if (tls_) tls_->lowest_layer().close(ignored);
  if (tcp_) tcp_->close(ignored);
  // Sockets before the contexts they were made from.
  tls_.reset();
  retired_tls_.clear();
}

void http_stream::Post(completion_handler handler, const error_code& ec) {
  asio::post(io_, [handler = std::move(handler), ec] { handler(ec); });
}

http_stream::completion_handler http_stream::Track(completion_handler handler) {
  {
    std::lock_guard<std::mutex> lock(close_mutex_);
    ++in_flight_;
  }
  return [this, handler = std::move(handler)](const error_code& ec) {
    FinishForeignClose();
    handler(ec);
    std::lock_guard<std::mutex> lock(close_mutex_);
    --in_flight_;
  };
}

http_stream::read_handler http_stream::Track(read_handler handler) {
  {
    std::lock_guard<std::mutex> lock(close_mutex_);
    ++in_flight_;
  }
  return [this, handler = std::move(handler)](const error_code& ec, std::size_t n) {
    FinishForeignClose();
    handler(ec, n);
    std::lock_guard<std::mutex> lock(close_mutex_);
    --in_flight_;
  };
}

void http_stream::FinishForeignClose() {
  // Close from another thread only shut the connection down; here, on the I/O thread, the
  // socket can really be closed.
  if (!closed_elsewhere_) return;
  std::lock_guard<std::mutex> lock(close_mutex_);
  CloseSocketLocked();
}

void http_stream::RunSync(const std::function<void(completion_handler)>& start, error_code& ec) {
  // The handler may run on another thread that also runs the service.
  struct result {
    std::mutex m;
    bool done = false;
    error_code ec;
  };
  auto r = std::make_shared<result>();
  start([r](const error_code& e) {
    std::lock_guard<std::mutex> lock(r->m);
    r->ec = e;
    r->done = true;
  });
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(r->m);
      if (r->done) break;
    }
    if (io_.stopped()) io_.restart();
    io_.run_one_for(std::chrono::milliseconds(50));
  }
  ec = r->ec;
}

void http_stream::Open(const ParsedUrl& url, error_code& ec) {
  RunSync([&](completion_handler h) { AsyncOpen(url, std::move(h)); }, ec);
}

void http_stream::AsyncOpen(const ParsedUrl& url, completion_handler handler) {
  final_location_.clear();
  redirects_ = 0;
  closed_elsewhere_ = false;
  handler = Track(std::move(handler));
  // One bound for the whole open, redirects included.
  ArmDeadline();
  StartOpen(url, [this, handler](const error_code& ec) {
    CancelDeadline();
    handler(StepError(ec));
  });
}

void http_stream::ResetResponseState() {
  location_.clear();
  status_code_ = 0;
  content_length_ = -1;
  message_length_ = -1;
  body_bytes_ = 0;
  in_.clear();
  in_pos_ = 0;
  out_.clear();
  chunked_ = false;
  decoder_.reset();
}

void http_stream::StartOpen(const ParsedUrl& url, completion_handler handler) {
  if (first_url_.empty()) first_url_ = url;
  protocol_ = url.protocol;
  url_ = url;
  ResetResponseState();

  const bool https = protocol_ == "https";
  if (!https && protocol_ != "http")
    return Post(std::move(handler), asio::error::operation_not_supported);
  if (IsOpen()) return Post(std::move(handler), asio::error::already_open);
  if (proxy_.type < proxy_none || proxy_.type > proxy_http_pw)
    return Post(std::move(handler), asio::error::operation_not_supported);

  {
    std::lock_guard<std::mutex> lock(close_mutex_);
    if (tcp_) retired_tcp_.push_back(std::move(tcp_));
    if (tls_) retired_tls_.push_back(std::move(tls_));
    if (tls_context_) retired_contexts_.push_back(std::move(tls_context_));
    tls_active_ = https;
    if (!https) tcp_ = std::make_unique<tcp::socket>(io_);
  }
  if (https) {
    const error_code ec = SetupTls();
    if (ec) return Post(std::move(handler), ec);
  }

  auto after_connect = [this, https, handler](const error_code& ec) mutable {
    if (ec) return handler(ec);
    auto send = [this, handler](const error_code& ec) mutable {
      if (ec) return handler(ec);
      StartRequest(request_options_, [this, handler](const error_code& ec) mutable {
        OnOpenDone(StepError(ec), std::move(handler));
      });
    };
    if (https) return TlsHandshake(std::move(send));
    send(ec);
  };

  const std::string proxy_port = std::to_string(proxy_.port);
  switch (proxy_.type) {
    case proxy_none:
      ConnectTcp(url_.host, std::to_string(UrlPort(url_)), std::move(after_connect));
      break;
    case proxy_socks4:
    case proxy_socks5:
    case proxy_socks5_pw:
      ConnectTcp(proxy_.host, proxy_port, [this, after_connect](const error_code& ec) mutable {
        if (ec) return after_connect(ec);
        if (proxy_.type == proxy_socks4) return Socks4Handshake(std::move(after_connect));
        Socks5Handshake(std::move(after_connect));
      });
      break;
    default:  // HTTP proxy
      ConnectTcp(proxy_.host, proxy_port,
                 [this, https, after_connect](const error_code& ec) mutable {
                   if (ec || !https) return after_connect(ec);
                   ConnectTunnel(std::move(after_connect));
                 });
      break;
  }
}

void http_stream::OnOpenDone(const error_code& ec, completion_handler handler) {
  const bool redirect = ec.category() == error_category() &&
                        (ec.value() == errc::moved_permanently || ec.value() == errc::found);
  if (!redirect) {
    redirects_ = 0;
    return handler(ec);
  }
  {
    std::lock_guard<std::mutex> lock(close_mutex_);
    CloseSocketLocked();
  }
  if (closed_elsewhere_) return handler(asio::error::operation_aborted);
  if (++redirects_ > max_redirects_) {
    redirects_ = 0;
    return handler(ec);
  }
  error_code parse_error;
  const ParsedUrl next = ParseUrl(location_, parse_error);
  if (parse_error || next.protocol.empty() || next.host.empty()) {
    redirects_ = 0;
    return handler(make_error_code(errc::invalid_redirect));
  }
  // Whoever sits between us and a plain-http server could change the bytes: an answer over
  // https never sends us there.
  if (protocol_ == "https" && next.protocol != "https") {
    redirects_ = 0;
    return handler(make_error_code(errc::insecure_redirect));
  }
  final_location_ = location_;
  StartOpen(next, std::move(handler));
}

void http_stream::SendRequest(const RequestOptions& options, error_code& ec) {
  RunSync([&](completion_handler h) { AsyncSendRequest(options, std::move(h)); }, ec);
}

void http_stream::AsyncSendRequest(const RequestOptions& options, completion_handler handler) {
  handler = Track(std::move(handler));
  ArmDeadline();
  StartRequest(options, [this, handler](const error_code& ec) {
    CancelDeadline();
    handler(StepError(ec));
  });
}

std::size_t http_stream::ReadSome(asio::mutable_buffer buffer, error_code& ec) {
  auto bytes = std::make_shared<std::size_t>(0);
  RunSync(
      [&](completion_handler h) {
        AsyncReadSome(buffer, [bytes, h](const error_code& e, std::size_t n) {
          *bytes = n;
          h(e);
        });
      },
      ec);
  return *bytes;
}

void http_stream::AsyncReadSome(asio::mutable_buffer buffer, read_handler handler) {
  handler = Track(std::move(handler));
  ReadBody(buffer,
           [this, handler](const error_code& ec, std::size_t n) { handler(StepError(ec), n); });
}

void http_stream::CloseSocketLocked() {
  error_code ignored;
  if (tls_) tls_->lowest_layer().close(ignored);
  if (tcp_) tcp_->close(ignored);
}

void http_stream::Close(error_code& ec) {
  ec.clear();
  std::lock_guard<std::mutex> lock(close_mutex_);
  if (in_flight_ > 0 && !io_.get_executor().running_in_this_thread()) {
    // The I/O thread may be inside the socket object right now: only shut the connection
    // down (a plain system call), which ends the pending operation; the chain sees the flag
    // before its next step.
    closed_elsewhere_ = true;
    tcp::socket* s = tls_ ? &tls_->next_layer() : tcp_.get();
    if (s) ::shutdown(s->native_handle(), SHUT_RDWR);
    return;
  }
  resolver_.cancel();
  CloseSocketLocked();
}

bool http_stream::IsOpen() const {
  if (closed_elsewhere_) return false;
  if (tls_) return tls_->lowest_layer().is_open();
  return tcp_ && tcp_->is_open();
}

void http_stream::ArmDeadline() {
  timed_out_ = false;
  ++deadline_generation_;
  if (open_timeout_.count() <= 0) return;
  deadline_.expires_after(open_timeout_);
  std::weak_ptr<int> alive = alive_;
  const unsigned generation = deadline_generation_;
  deadline_.async_wait([this, alive, generation](const error_code& ec) {
    if (ec || alive.expired() || generation != deadline_generation_) return;
    timed_out_ = true;
    resolver_.cancel();
    std::lock_guard<std::mutex> lock(close_mutex_);
    CloseSocketLocked();
  });
}

void http_stream::CancelDeadline() {
  ++deadline_generation_;
  deadline_.cancel();
}

error_code http_stream::StepError(const error_code& ec) const {
  if (!ec) return ec;
  if (timed_out_) return asio::error::timed_out;
  if (closed_elsewhere_) return asio::error::operation_aborted;
  return ec;
}

std::streambuf::int_type http_stream::underflow() {
  if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
  error_code ec;
  const std::size_t n = ReadSome(asio::buffer(get_area_), ec);
  last_read_error_ = ec;
  if (ec == asio::error::eof || (!ec && n == 0)) return traits_type::eof();
  if (ec) throw boost::system::system_error(ec);
  setg(get_area_, get_area_, get_area_ + n);
  return traits_type::to_int_type(*gptr());
}

}  // namespace kvhttp
