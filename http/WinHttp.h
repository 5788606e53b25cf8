// The client over the platform's request API (agent "Microsoft Internet Explorer", proxy from
// the desktop, redirects followed by the platform, time limits of 5 s each by default). A secure
// request (port 443, or any https URL) verifies the server's certificate unless told to relax.
// Both fetches need "Content-Length"; a file fetch deletes its file on failure. One thread at a
// time.
#pragma once

#include <cstdint>
#include <string>

#include "http/HttpBase.h"
#include "http/HttpHeader.h"
#include "http/detail/WebHandles.h"

class CWinHttp : public IWinHttp {
 public:
  CWinHttp();
  virtual ~CWinHttp();
  CWinHttp(const CWinHttp&) = delete;
  CWinHttp& operator=(const CWinHttp&) = delete;

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
  void SetTimeouts(int connectMs, int sendMs, int receiveMs) override;
  void SetCertificateChecks(CertificateChecks checks) override { certificateChecks_ = checks; }

 private:
  bool OpenSession();
  // Session, timeouts, connection, request, fields, send, receive; false with the code stored.
  bool Open(const std::wstring& url, const wchar_t* verb, const char* data,
            const std::wstring& extraHeaders);
  bool Raise(HttpInterfaceError code);

  int statusCode_ = 0;
  bool secure_ = false;
  http_detail::WebHandles handles_;
  int connectTimeout_ = 5000;
  int sendTimeout_ = 5000;
  int receiveTimeout_ = 5000;
  CertificateChecks certificateChecks_ = CertificateChecks::kVerify;
  CHttpHeader header_;
  void* sinkUser_ = nullptr;
  IHttpProgressSink* sink_ = nullptr;
  HttpInterfaceError lastError_ = HttpErrNone;
};
