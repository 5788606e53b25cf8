#include "http/WinHttpRequest.h"

#include <fcntl.h>
#include <unistd.h>

#include <limits>

#include "http/ApiError.h"
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
  connection_ = WebConnect(session_, host_, transport == Transport::Secure ? 443 : 80);
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

bool CWinHttpRequest::SaveBodyToFile(const std::wstring& path) {
  const std::string target = platform::WideToLocale(path);
  const int fd = open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  char buffer[4096];
  bool ok = false;
  for (;;) {
    const int n = HttpRead(buffer, sizeof buffer);
    if (n < 0) break;
    if (n == 0) {
      ok = true;
      break;
    }
    if (write(fd, buffer, static_cast<std::size_t>(n)) != n) break;
  }
  close(fd);
  return ok;
}

std::string CWinHttpRequest::ReadBodyText() {
  std::string text;
  char buffer[2048];
  for (;;) {
    const int n = HttpRead(buffer, 2047);
    if (n < 0) return "";
    if (n == 0) break;
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
