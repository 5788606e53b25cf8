// The request class of the install flow's one-shot requests (installer size, carousel text,
// banner images) over the platform's request API. Failed steps are logged through
// ShowApiError. Certificates are verified: a certificate failure fails the secure attempt.
// Objects live on the stack of one worker thread and serve one URL.
#pragma once

#include <cstdint>
#include <string>

#include "http/BaseRequest.h"

class CWinHttpRequest : public CBaseRequest {
 public:
  CWinHttpRequest() = default;
  ~CWinHttpRequest() override;

  const char* GetTypeName() override { return "WinHttp"; }
  bool GetUrlFileSize(std::uint32_t* size) override;
  int HttpRead(void* buffer, std::uint32_t size) override;
  void CloseHandles() override;
  bool OpenSession() override;
  bool ConnectSession(Transport transport) override;
  bool OpenRequest(Transport transport) override;
  bool SendRequest() override;

  // Writes the rest of the body to `path` (created or truncated), at most `maxBytes` of it.
  // False on a failed read or write and for a body longer than `maxBytes` (the file then holds
  // its first `maxBytes` bytes); a partial file stays for the caller to handle.
  bool SaveBodyToFile(const std::wstring& path, std::uint64_t maxBytes);
  // The rest of the body as it came; "" when a read failed, so a cut-off body is never taken
  // for a whole one, and when the body is longer than `maxBytes`.
  std::string ReadBodyText(std::size_t maxBytes = kMaxTextBody);
  // The status of the answer; false before one came.
  bool GetStatusCode(int* status);

  // What a text body may hold unless its caller says otherwise.
  static constexpr std::size_t kMaxTextBody = 64 * 1024;
};

// Both block until the exchange ends; any thread, each call uses a request of its own.
// The size in bytes from a HEAD request, 0 when it cannot be had (also above 32 bits).
std::uint32_t QueryRemoteFileSize(const std::wstring& url);
// The body of a GET request, whatever its status; "" on failure and for a body over
// CWinHttpRequest::kMaxTextBody.
std::string FetchUrlText(const std::wstring& url);
