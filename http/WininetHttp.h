// The client over the platform's internet-session API (agent "Http-connect", proxy from the
// environment, redirects followed by the platform). A file fetch creates the target's missing
// folders and leaves a partial file behind on failure. One thread at a time.
#pragma once

#include <cstdint>
#include <string>

#include "http/HttpBase.h"
#include "http/HttpHeader.h"
#include "http/detail/WebHandles.h"

class CWininetHttp : public IWininetHttp {
 public:
  CWininetHttp();
  virtual ~CWininetHttp();
  CWininetHttp(const CWininetHttp&) = delete;
  CWininetHttp& operator=(const CWininetHttp&) = delete;

  void SetProgressSink(IHttpProgressSink* sink, void* userValue) override;
  bool FetchToFile(const wchar_t* url, const wchar_t* filePath) override;
  bool FetchToMemory(const wchar_t* url, void** buffer, int* size) override;
  void Release() override;
  HttpInterfaceError LastError() override { return lastError_; }
  void AddRequestHeader(const char* name, const char* value) override;
  int StatusCode() override { return statusCode_; }
  std::string PerformRequest(const wchar_t* url, HttpVerb verb, const char* data,
                             const wchar_t* extraHeaders) override;
  std::string PerformRequest(const char* url, HttpVerb verb, const char* data,
                             const char* extraHeaders) override;

 private:
  // Session, connection, request, fields, send, status; false with the code stored.
  // `tls` as UsesTls gives it for the URL.
  bool Open(const std::wstring& host, const std::wstring& path, std::uint16_t port, bool tls,
            const wchar_t* verb, const char* data, const std::wstring& extraHeaders);
  std::string Perform(const std::wstring& host, const std::wstring& path, std::uint16_t port,
                      bool tls, HttpVerb verb, const char* data, const std::wstring& extraHeaders);
  bool Raise(HttpInterfaceError code);

  int statusCode_ = 0;
  bool secure_ = false;
  http_detail::WebHandles handles_;
  CHttpHeader header_;
  void* sinkUser_ = nullptr;
  IHttpProgressSink* sink_ = nullptr;
  HttpInterfaceError lastError_ = HttpErrNone;
};
