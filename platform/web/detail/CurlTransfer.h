// One HTTP exchange over libcurl, driven step by step by the caller's thread: the header first,
// then the body in pieces as the caller asks for it. Private to platform/web.
#pragma once

#include <curl/curl.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace platform::web_detail {

struct TransferSetup {
  std::string url;
  std::string verb;  // "GET", "HEAD", "POST", ...
  std::vector<std::string> headerLines;
  std::string body;
  bool sendBody = false;
  std::string agent;
  bool noProxy = false;
  bool verifyPeer = true;
  bool verifyHost = true;
  long connectMs = 0;  // 0: no limit
  long receiveMs = 0;  // longest wait for data once connected; 0: no limit
};

class CurlTransfer {
 public:
  CurlTransfer();
  ~CurlTransfer();
  CurlTransfer(const CurlTransfer&) = delete;
  CurlTransfer& operator=(const CurlTransfer&) = delete;

  // Starts the exchange and waits until the connection (and TLS, when secure) stands, or an
  // answer came. On failure `error` holds a code of the WebError range.
  bool Start(const TransferSetup& setup, std::uint32_t& error);
  // Waits for the final response header.
  bool WaitForHeader(std::uint32_t& error);

  int status() const { return status_; }
  // Case-insensitive look-up in the final response header; the first field of a name wins.
  bool FindField(const std::string& name, std::string& value) const;

  // Waits until body bytes are buffered or the body ended. False when the transfer failed and
  // nothing buffered is left.
  bool WaitForData(std::uint32_t& error);
  std::size_t Buffered() const { return buffer_.size() - readPos_; }
  std::size_t Take(void* out, std::size_t size);

 private:
  static std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* self);
  static std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* self);
  template <class Ready>
  bool Drive(Ready ready, std::uint32_t& error);
  bool ConnectionReady();
  void Cleanup();

  CURLM* multi_ = nullptr;
  CURL* easy_ = nullptr;
  curl_slist* headers_ = nullptr;
  std::string proxy_;
  std::string requestBody_;
  char errorText_[CURL_ERROR_SIZE] = {};

  int status_ = 0;
  std::vector<std::pair<std::string, std::string>> fields_;
  bool headerDone_ = false;
  bool done_ = false;
  CURLcode result_ = CURLE_OK;

  std::string buffer_;
  std::size_t readPos_ = 0;
  bool paused_ = false;

  bool secure_ = false;
  long receiveMs_ = 0;
  bool connected_ = false;
  std::chrono::steady_clock::time_point lastActivity_;
};

// Sets close-on-exec on every socket of the process that lacks it (0-2 excepted): libcurl makes
// some socket pairs of its own without it.
void MarkSocketsCloseOnExec();

// The WebError code for a libcurl result.
std::uint32_t ErrorFromCurl(CURLcode code);

}  // namespace platform::web_detail
