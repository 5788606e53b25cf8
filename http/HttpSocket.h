// The raw-socket client: plain HTTP/1.1 over a TCP socket, no TLS (port 443 fails at once), a
// 10-second receive limit, redirects followed by new requests (at most kHttpMaxRedirects).
// The body is stored as it comes off the wire (no chunked decoding). One thread at a time.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "http/HttpBase.h"
#include "http/HttpHeader.h"

class CHttpSocket : public ISocketHttp {
 public:
  CHttpSocket();
  virtual ~CHttpSocket();
  CHttpSocket(const CHttpSocket&) = delete;
  CHttpSocket& operator=(const CHttpSocket&) = delete;

  void SetProgressSink(IHttpProgressSink* sink, void* userValue) override;
  bool FetchToFile(const wchar_t* url, const wchar_t* filePath) override;
  bool FetchToMemory(const wchar_t* url, void** buffer, int* size) override;
  void Release() override;
  HttpInterfaceError LastError() override { return lastError_; }
  void AddRequestHeader(const char* name, const char* value) override;
  int StatusCode() override { return statusCode_; }
  const wchar_t* PeerAddress() override { return peerAddress_.c_str(); }

 private:
  // Failed: a code was raised; Closed: the server closed early (no code of its own); Body: the
  // header was taken and the body follows.
  enum class Outcome { Done, Failed, Closed, Redirect, Body };
  bool Connect(const std::string& host, std::uint16_t port);
  bool SendRequest(const std::string& host, const std::string& path);
  // Parses the header text into `response` and the client's status: 400 fails, a redirect
  // gives its "Location".
  Outcome TakeHeader(const std::string& text, CHttpHeader& response, std::string& location);
  void CloseSocket();
  Outcome ReceiveToFile(std::FILE* file, std::string& location);
  Outcome ReceiveToMemory(void** buffer, int* size, std::string& location);
  void Raise(HttpInterfaceError code) { lastError_ = code; }

  int statusCode_ = 0;
  int socket_ = -1;
  std::wstring peerAddress_;
  CHttpHeader header_;
  void* sinkUser_ = nullptr;
  IHttpProgressSink* sink_ = nullptr;
  HttpInterfaceError lastError_ = HttpErrNone;
};
