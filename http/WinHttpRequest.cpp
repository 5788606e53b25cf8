#include "http/WinHttpRequest.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <limits>

#include "http/ApiError.h"
#include "log/Log.h"
#include "platform/TextCodec.h"

using namespace platform;

namespace {

void Report(const char* api, const char* context) {
  ShowApiError(api, WebGetLastError(), &WebErrorMessage, context);
}

}  // namespace

CWinHttpRequest::~CWinHttpRequest() {
  CloseHandles();
}

void CWinHttpRequest::CloseHandles() {
  for (WebHandle* h : {&request_, &connection_, &session_}) {
    if (*h) WebCloseHandle(*h);
    *h = nullptr;
  }
}

bool CWinHttpRequest::OpenSession() {
  session_ = WebOpen(L"", IsUseProxyConnect() ? WebAccess::DefaultProxy : WebAccess::NoProxy);
  if (session_) return true;
  Report("WinHttpOpen", "CWinHttpRequest::OpenSession");
  return false;
}

bool CWinHttpRequest::ConnectSession(Transport transport) {
  std::wstring name;
  std::uint16_t port = 0;
  if (SplitHostPort(host_, transport == Transport::Secure ? 443 : 80, name, port)) {
    connection_ = WebConnect(session_, name, port);
  } else {
    WebSetLastError(kWebErrInvalidUrl);
  }
  if (connection_) return true;
  Report("WinHttpConnect", "CWinHttpRequest::ConnectSession");
  return false;
}

bool CWinHttpRequest::OpenRequest(Transport transport) {
  const std::uint32_t flags =
      kWebFlagBypassProxyCache | (transport == Transport::Secure ? kWebFlagSecure : 0);
  request_ = WebOpenRequest(connection_, verb_, path_, flags, L"*/*");
  if (request_) return true;
  Report("WinHttpOpenRequest", "CWinHttpRequest::OpenRequest");
  return false;
}

bool CWinHttpRequest::SendRequest() {
  if (!WebSendRequest(request_, L"", nullptr, 0)) {
    Report("WinHttpSendRequest", "CWinHttpRequest::SendRequest");
    return false;
  }
  if (!WebReceiveResponse(request_)) {
    Report("WinHttpReceiveResponse", "CWinHttpRequest::SendRequest");
    return false;
  }
  return true;
}

bool CWinHttpRequest::GetUrlFileSize(std::uint32_t* size) {
  if (!request_ || !size) return false;
  std::uint64_t length = 0;
  if (WebQueryContentLength(request_, length)) {
    if (length <= std::numeric_limits<std::uint32_t>::max()) {
      *size = static_cast<std::uint32_t>(length);
      return true;
    }
    // Cutting the value to 32 bits would report a wrong size.
    WebSetLastError(kWebErrInvalidServerResponse);
  }
  Report("WinHttpQueryHeaders", "CWinHttpRequest::GetUrlFileSize");
  return false;
}

int CWinHttpRequest::HttpRead(void* buffer, std::uint32_t size) {
  std::size_t n = 0;
  if (WebReadData(request_, buffer, size, n)) return static_cast<int>(n);
  Report("WinHttpReadData", "CWinHttpRequest::HttpRead");
  return -1;
}

bool CWinHttpRequest::GetStatusCode(int* status) {
  return request_ && status && WebQueryStatusCode(request_, *status);
}

bool CWinHttpRequest::SaveBodyToFile(const std::wstring& path, std::uint64_t maxBytes) {
  const std::string target = platform::WideToLocale(path);
  const int fd = open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  char buffer[4096];
  std::uint64_t written = 0;
  bool ok = false;
  for (;;) {
    const int n = HttpRead(buffer, sizeof buffer);
    if (n < 0) break;
    if (n == 0) {
      ok = true;
      break;
    }
    // A body past the caller's bound ends the download; the bytes within it stay.
    const std::uint64_t room = maxBytes - written;
    const std::size_t keep = static_cast<std::size_t>(std::min<std::uint64_t>(n, room));
    if (keep > 0 && write(fd, buffer, keep) != static_cast<ssize_t>(keep)) break;
    written += keep;
    if (keep < static_cast<std::size_t>(n)) {
      LOGA(LogLevelInfo, "body of %s%s is over %llu bytes", WideToUtf8(host_).c_str(),
           ("/" + WideToUtf8(path_)).c_str(), static_cast<unsigned long long>(maxBytes));
      break;
    }
  }
  close(fd);
  return ok;
}

std::string CWinHttpRequest::ReadBodyText(std::size_t maxBytes) {
  std::string text;
  char buffer[2048];
  for (;;) {
    const int n = HttpRead(buffer, 2047);
    if (n < 0) return "";
    if (n == 0) break;
    if (static_cast<std::size_t>(n) > maxBytes - text.size()) {
      LOGA(LogLevelInfo, "body of %s%s is over %zu bytes", WideToUtf8(host_).c_str(),
           ("/" + WideToUtf8(path_)).c_str(), maxBytes);
      return "";
    }
    text.append(buffer, static_cast<std::size_t>(n));
  }
  return text;
}

std::uint32_t QueryRemoteFileSize(const std::wstring& url) {
  CWinHttpRequest request;
  request.SetVerb(L"HEAD");
  std::uint32_t size = 0;
  if (!request.OpenUrl(url) || !request.GetUrlFileSize(&size)) return 0;
  return size;
}

std::string FetchUrlText(const std::wstring& url) {
  CWinHttpRequest request;
  request.SetVerb(L"GET");
  if (!request.OpenUrl(url)) return "";
  return request.ReadBodyText();
}
