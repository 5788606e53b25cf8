// The steps of a one-shot request as virtual operations, and the entry that runs them (OpenUrl).
// An object serves one URL on the thread that made it.
#pragma once

#include <cstdint>
#include <string>

#include "platform/web/WebRequest.h"

enum class Transport { Plain, Secure };

class CBaseRequest {
 public:
  CBaseRequest() = default;
  virtual ~CBaseRequest() = default;
  CBaseRequest(const CBaseRequest&) = delete;
  CBaseRequest& operator=(const CBaseRequest&) = delete;

  // The name of the implementation ("WinHttp").
  virtual const char* GetTypeName() = 0;
  // The response's "Content-Length"; false when there is no response or no such field.
  virtual bool GetUrlFileSize(std::uint32_t* size) = 0;
  // Reads the next body bytes: the count, 0 at the end of the body, -1 on failure.
  virtual int HttpRead(void* buffer, std::uint32_t size) = 0;
  // Closes request, connection and session, each when open.
  virtual void CloseHandles() = 0;
  // The steps of OpenHostPath, in that order; each reports its own failure and gives false.
  // A new session, through the desktop's proxy when it names one for this host.
  virtual bool OpenSession() = 0;
  // The connection to the stored host: the port it carries (":8080"), else 443 when secure and
  // 80 when plain.
  virtual bool ConnectSession(Transport transport) = 0;
  // A request for the stored path with the verb, over TLS when secure.
  virtual bool OpenRequest(Transport transport) = 0;
  // Sends the request without a body and waits for the response header.
  virtual bool SendRequest() = 0;

  // "GET" until changed ("HEAD" for a size query).
  void SetVerb(const std::wstring& verb) { verb_ = verb; }
  // The text after "http://" or "https://" up to its first "/" is the host, the rest after
  // that "/" the path. A URL with neither prefix leaves both as they are and gives true; one
  // without a "/" after the host gives false. A ":port" stays part of the host.
  bool SplitRequestUrl(const std::wstring& url, std::wstring& host, std::wstring& path);
  // Session, connection, request and send, stopping at the first step that fails.
  bool OpenHostPath(const std::wstring& host, const std::wstring& path, Transport transport);
  // Opens the URL and sends the request:
  //  - with a port ("http://srv:8080/x"): once, on that port, over TLS exactly when the scheme
  //    is https;
  //  - "https://" without a port: over TLS on 443 only; a failure (a certificate that does not
  //    verify, say) is final, never a reason to ask again in plain text;
  //  - "http://" without a port: over TLS on 443 first and, when any step of that fails, plainly
  //    on 80.
  bool OpenUrl(const std::wstring& url);
  // Whether the desktop routes requests for the stored host through a proxy.
  bool IsUseProxyConnect();

 protected:
  // "srv", "srv:8080", "[::1]:8080" into name and port; `fallback` when the host has no port.
  // False for a port that is not a number from 1 to 65535.
  static bool SplitHostPort(const std::wstring& host, std::uint16_t fallback, std::wstring& name,
                            std::uint16_t& port);
  Transport transport_ = Transport::Secure;

  std::wstring verb_ = L"GET";
  std::wstring path_;
  std::wstring host_;
  platform::WebHandle session_ = nullptr;
  platform::WebHandle connection_ = nullptr;
  platform::WebHandle request_ = nullptr;
};
