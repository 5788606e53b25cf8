// One HTTP/1.1 client connection on a Boost.Asio I/O service: direct, through SOCKS 4/5 or an
// HTTP proxy (CONNECT tunnel for https), TLS for https, 301/302 redirects, chunked bodies.
//
// Threads: one operation at a time, on the thread that runs the I/O service. The synchronous
// forms run the I/O service on the calling thread until they finish, so call them where no
// other thread is inside a handler of this stream (e.g. before the service runs). Close may be
// called from any thread; an operation in flight then completes with an error.
// The owner keeps the stream alive until the handler of an asynchronous operation has run.
#pragma once

#include <atomic>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/ssl/stream.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/system/error_code.hpp>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <streambuf>
#include <string>
#include <vector>

#include "kvhttp/net/Cookies.h"
#include "kvhttp/net/Error.h"
#include "kvhttp/net/ParsedUrl.h"
#include "kvhttp/net/RequestOptions.h"
#include "kvhttp/net/Settings.h"
#include "kvhttp/net/detail/ChunkedDecoder.h"

namespace kvhttp {

// As a std::streambuf it reads the body: the end of the body is end-of-file, any other error
// throws boost::system::system_error (which std::istream turns into badbit).
class http_stream : public std::streambuf {
 public:
  using completion_handler = std::function<void(const boost::system::error_code&)>;
  using read_handler = std::function<void(const boost::system::error_code&, std::size_t)>;

  explicit http_stream(boost::asio::io_context& io);
  ~http_stream() override;
  http_stream(const http_stream&) = delete;
  http_stream& operator=(const http_stream&) = delete;

  // Connects to the URL's server (or the proxy), shakes hands for https, sends a request with
  // the options of SetRequestOptions and reads the response head, following 301/302 up to
  // the redirect limit. Errors: asio::error::operation_not_supported for a protocol other than
  // http/https or an unknown proxy type, already_open, resolve/connect/TLS errors, the engine's
  // parser and SOCKS codes, and a status other than 200/206 as an error of the "HTTP" category.
  void Open(const ParsedUrl& url, boost::system::error_code& ec);
  void AsyncOpen(const ParsedUrl& url, completion_handler handler);

  // On an open connection: sends one request built from `options` and reads its response head.
  // A closed connection gives asio::error::not_connected without sending anything.
  void SendRequest(const RequestOptions& options, boost::system::error_code& ec);
  void AsyncSendRequest(const RequestOptions& options, completion_handler handler);

  // Reads body bytes (chunked coding removed). With keep-alive, a body that has fully arrived
  // gives 0 bytes and no error; otherwise the end is asio::error::eof.
  std::size_t ReadSome(boost::asio::mutable_buffer buffer, boost::system::error_code& ec);
  void AsyncReadSome(boost::asio::mutable_buffer buffer, read_handler handler);

  // Closes the connection. Any thread.
  void Close(boost::system::error_code& ec);
  bool IsOpen() const;

  void SetRequestOptions(const RequestOptions& options) { request_options_ = options; }
  RequestOptions& GetRequestOptions() { return request_options_; }
  // The header table actually sent with the last request, pseudo-headers included.
  const RequestOptions& RequestOptionsSent() const { return sent_options_; }
  // The header table of the last response, plus "_status_code".
  const RequestOptions& ResponseOptions() const { return response_options_; }

  void SetProxy(const ProxySettings& proxy) { proxy_ = proxy; }
  // When on (the default) the server certificate chain is verified against the system trust
  // store (OpenSSL's default paths: SSL_CERT_FILE, SSL_CERT_DIR) plus the CA file/directory,
  // and its name against the URL's host or IP address.
  void SetCheckCertificate(bool check) { check_certificate_ = check; }
  void SetMaxRedirects(int max) { max_redirects_ = max; }
  void SetCaFile(const std::string& file) { ca_file_ = file; }
  void SetCaDirectory(const std::string& dir) { ca_directory_ = dir; }
  // Bounds each open (resolve, connect, handshake, response head, redirects) and each request
  // (up to its response head), synchronous or not; passing it ends the operation with
  // asio::error::timed_out and closes the connection. Zero (the default): no bound.
  void SetOpenTimeout(std::chrono::milliseconds timeout) { open_timeout_ = timeout; }

  // Location of the last redirect followed by the last Open (empty without redirect).
  const std::string& FinalLocation() const { return final_location_; }
  // Location header of the last response, made absolute.
  const std::string& Location() const { return location_; }
  // The larger of Content-Length and the total of Content-Range; -1 when not announced.
  std::int64_t ContentLength() const { return content_length_; }
  std::int64_t BodyBytes() const { return body_bytes_; }
  const std::string& ContentType() const { return content_type_; }
  int StatusCode() const { return status_code_; }
  bool KeepAlive() const { return keep_alive_; }
  bool IsChunked() const { return chunked_; }
  // True once a chunked body's last (zero-size) chunk has been read: the body arrived whole.
  // False for bodies that are not chunked.
  bool ChunkedBodyComplete() const { return chunked_ && decoder_.last_chunk_seen(); }
  // True once the last response's body has been read to its end as the response framed it (its
  // Content-Length reached, or the last chunk and trailer read), so that the connection may
  // carry another request. False for a body that ends only when the connection closes.
  bool BodyComplete() const {
    if (chunked_) return decoder_.done();
    return message_length_ >= 0 && body_bytes_ >= message_length_;
  }
  const ParsedUrl& Url() const { return url_; }
  const ParsedUrl& FirstUrl() const { return first_url_; }
  CookieJar& Cookies() { return cookies_; }

 protected:
  int_type underflow() override;

 private:
  using tcp = boost::asio::ip::tcp;
  using ssl_socket = boost::asio::ssl::stream<tcp::socket>;
  using error_code = boost::system::error_code;

  // The whole machinery is asynchronous; the synchronous forms drive it to completion.
  void RunSync(const std::function<void(completion_handler)>& start, error_code& ec);
  void StartOpen(const ParsedUrl& url, completion_handler handler);
  void OnOpenDone(const error_code& ec, completion_handler handler);
  void Post(completion_handler handler, const error_code& ec);

  // Connecting (http_stream_connect.cpp).
  void ConnectTcp(const std::string& host, const std::string& port, completion_handler handler);
  void OnResolved(tcp::resolver::results_type results, completion_handler handler);
  void ConnectEndpoints(std::shared_ptr<tcp::resolver::results_type> endpoints,
                        tcp::resolver::results_type::const_iterator it, error_code last,
                        completion_handler handler);
  void Socks5Handshake(completion_handler handler);
  void Socks5Connect(completion_handler handler);
  void Socks4Handshake(completion_handler handler);
  void ConnectTunnel(completion_handler handler);
  void TlsHandshake(completion_handler handler);
  error_code SetupTls();

  // Requests and bodies (http_stream_request.cpp).
  void StartRequest(const RequestOptions& options, completion_handler handler);
  std::string BuildRequest(RequestOptions options);
  void OnHeadBytes(completion_handler handler);
  error_code ApplyHead(std::string_view status_line, std::string_view header_block, int status);
  void ReadBody(boost::asio::mutable_buffer buffer, read_handler handler);
  void ReadChunked(boost::asio::mutable_buffer buffer, read_handler handler);

  // Transport: TCP or TLS, whichever is in use.
  void ReadMore(completion_handler handler);
  void ReadInto(boost::asio::mutable_buffer buffer, read_handler handler);
  void WriteAll(std::string data, completion_handler handler);
  tcp::socket& Tcp();
  bool TlsActive() const { return tls_active_; }
  std::size_t Buffered() const { return in_.size() - in_pos_; }
  void Consume(std::size_t n);

  void ArmDeadline();
  void CancelDeadline();
  // Maps the error of a step cut short by the deadline or by Close to what the caller sees.
  error_code StepError(const error_code& ec) const;
  void CloseSocketLocked();
  void FinishForeignClose();
  void ResetResponseState();
  // Counts the asynchronous operations in flight, so that Close from another thread knows
  // whether the I/O thread may be using the socket.
  completion_handler Track(completion_handler handler);
  read_handler Track(read_handler handler);

  boost::asio::io_context& io_;
  tcp::resolver resolver_;
  // Sockets and TLS contexts replaced by a later open stay until destruction: a composed TLS
  // operation that was cancelled may still refer to them when its handler runs.
  std::vector<std::unique_ptr<boost::asio::ssl::context>> retired_contexts_;
  std::vector<std::unique_ptr<ssl_socket>> retired_tls_;
  std::vector<std::unique_ptr<tcp::socket>> retired_tcp_;
  std::unique_ptr<boost::asio::ssl::context> tls_context_;
  std::unique_ptr<ssl_socket> tls_;
  std::unique_ptr<tcp::socket> tcp_;
  bool tls_active_ = false;
  boost::asio::steady_timer deadline_;
  unsigned deadline_generation_ = 0;
  bool timed_out_ = false;
  std::atomic<bool> closed_elsewhere_{false};
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);

  bool check_certificate_ = true;
  std::string ca_file_;
  std::string ca_directory_;
  RequestOptions sent_options_;
  RequestOptions request_options_;
  RequestOptions response_options_;
  ProxySettings proxy_;
  std::string protocol_;
  ParsedUrl url_;
  ParsedUrl first_url_;
  bool keep_alive_ = true;
  int status_code_ = -1;
  int redirects_ = 0;
  int max_redirects_ = 5;
  std::string content_type_;
  std::int64_t content_length_ = -1;
  std::int64_t message_length_ = -1;  // Content-Length of this message alone
  std::int64_t body_bytes_ = 0;
  std::string location_;
  std::string final_location_;
  std::string in_;                      // bytes read from the socket and not consumed yet
  std::size_t in_pos_ = 0;              // first unconsumed byte of in_
  std::string out_;                     // the request being written
  std::vector<unsigned char> scratch_;  // proxy handshakes
  bool chunked_ = false;
  detail::ChunkedDecoder decoder_;
  std::string request_method_;
  error_code last_read_error_;
  CookieJar cookies_;
  std::chrono::milliseconds open_timeout_{0};
  char get_area_[1024];

  std::mutex close_mutex_;
  int in_flight_ = 0;  // guarded by close_mutex_
};

}  // namespace kvhttp
