#include "http/WinHttp.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "http/HttpUrl.h"
#include "http/detail/HttpText.h"

using namespace platform;
using http_detail::Wide;

namespace {

constexpr std::size_t kChunk = 4096;
constexpr std::uint64_t kMaxMemoryBody = 0x800000;
// Unknown CA, wrong usage, name mismatch, bad dates and bit 0x1.
constexpr std::uint32_t kIgnoreCertificateErrors = 0x3301;

}  // namespace

CWinHttp::CWinHttp() {
  OpenSession();
}

CWinHttp::~CWinHttp() {
  handles_.Close();
}

void CWinHttp::SetProgressSink(IHttpProgressSink* sink, void* userValue) {
  sink_ = sink;
  sinkUser_ = userValue;
}

void CWinHttp::Release() {
  delete this;
}

void CWinHttp::AddRequestHeader(const char* name, const char* value) {
  if (name && value) header_.AddField(name, value);
}

void CWinHttp::SetTimeouts(int connectMs, int sendMs, int receiveMs) {
  connectTimeout_ = connectMs;
  sendTimeout_ = sendMs;
  receiveTimeout_ = receiveMs;
}

bool CWinHttp::Raise(HttpInterfaceError code) {
  lastError_ = code;
  return false;
}

bool CWinHttp::OpenSession() {
  handles_.session = WebOpen(L"Microsoft Internet Explorer", WebAccess::DefaultProxy);
  if (!handles_.session) return Raise(HttpErrOpen);
  WebSetTimeouts(handles_.session, 0, connectTimeout_, sendTimeout_, receiveTimeout_);
  return true;
}

bool CWinHttp::Open(const std::wstring& url, const wchar_t* verb, const char* data,
                    const std::wstring& extraHeaders) {
  handles_.Close();
  if (!OpenSession()) return false;
  std::wstring host, path;
  std::uint16_t port = 0;
  ParseHttpUrl(url, host, path, port);
  // Secure on 443 and for an https URL on any port; decided per request (a flag kept from an
  // earlier request would make a later plain request fail its handshake).
  secure_ = UsesTls(url, port);
  handles_.connection = WebConnect(handles_.session, host, port);
  if (!handles_.connection) return Raise(HttpErrConnect);
  handles_.request = WebOpenRequest(handles_.connection, verb, path, secure_ ? kWebFlagSecure : 0);
  if (!handles_.request) return Raise(HttpErrOpen);
  if (secure_ && certificateChecks_ == CertificateChecks::kRelaxed) {
    WebSetOption(handles_.request, kWebOptionSecurityFlags, kIgnoreCertificateErrors);
  }
  WebAddRequestHeaders(handles_.request, Wide(header_.BuildFieldLines()));
  const std::size_t length = data ? std::strlen(data) : 0;
  if (!WebSendRequest(handles_.request, extraHeaders, data, length)) return Raise(HttpErrSend);
  if (!WebReceiveResponse(handles_.request)) return Raise(HttpErrOpen);
  return true;
}

bool CWinHttp::FetchToFile(const wchar_t* url, const wchar_t* filePath) {
  if (!Open(http_detail::WideOrEmpty(url), L"GET", nullptr, L"")) return false;
  std::uint64_t length = 0;
  if (!WebQueryContentLength(handles_.request, length)) return Raise(HttpErrQuery);
  statusCode_ = http_detail::QueryStatus(handles_.request);
  if (statusCode_ == 404) return Raise(HttpErrNotFound);

  const std::string target = http_detail::Narrow(http_detail::WideOrEmpty(filePath));
  const int fd =
      target.empty() ? -1 : open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return Raise(HttpErrCreateFile);
  // The whole file is allocated before the first byte arrives.
  bool ok = ftruncate(fd, static_cast<off_t>(length)) == 0;
  std::size_t available = 0;
  ok = ok && WebQueryDataAvailable(handles_.request, available);
  std::vector<char> buffer(kChunk);
  double done = 0;
  while (ok && available > 0) {
    if (available > buffer.size()) buffer.resize(available);
    std::size_t n = 0;
    if (!WebReadData(handles_.request, buffer.data(), available, n)) {
      ok = false;
      break;
    }
    if (write(fd, buffer.data(), n) != static_cast<ssize_t>(n)) {
      ok = false;
      break;
    }
    done += static_cast<double>(n);
    if (sink_) sink_->OnProgress(sinkUser_, HttpTransferRunning, static_cast<double>(length), done);
    if (!WebQueryDataAvailable(handles_.request, available)) ok = false;
  }
  close(fd);
  if (!ok) std::remove(target.c_str());
  return ok;
}

bool CWinHttp::FetchToMemory(const wchar_t* url, void** buffer, int* size) {
  if (!buffer || !size) return Raise(HttpErrParam);
  if (!Open(http_detail::WideOrEmpty(url), L"GET", nullptr, L"")) return Raise(HttpErrOpen);
  std::uint64_t length = 0;
  if (!WebQueryContentLength(handles_.request, length)) return Raise(HttpErrQuery);
  statusCode_ = http_detail::QueryStatus(handles_.request);
  if (statusCode_ == 404) return Raise(HttpErrNotFound);
  std::size_t available = 0;
  if (!WebQueryDataAvailable(handles_.request, available)) return Raise(HttpErrQuery);
  if (length > kMaxMemoryBody) return Raise(HttpErrSize);

  const std::size_t capacity = static_cast<std::size_t>(length);
  char* block = static_cast<char*>(std::malloc(capacity > 0 ? capacity : 1));
  if (!block) return Raise(HttpErrSize);
  std::vector<char> transfer(kChunk);
  std::size_t count = 0;
  while (available > 0) {
    if (available > transfer.size()) transfer.resize(available);
    std::size_t n = 0;
    if (!WebReadData(handles_.request, transfer.data(), available, n)) {
      std::free(block);
      return Raise(HttpErrIncomplete);
    }
    // Never past the end of the block.
    const std::size_t take = std::min(n, capacity - count);
    std::memcpy(block + count, transfer.data(), take);
    count += take;
    if (!WebQueryDataAvailable(handles_.request, available)) {
      std::free(block);
      return Raise(HttpErrIncomplete);
    }
  }
  *buffer = block;
  *size = static_cast<int>(count);
  return true;
}

std::string CWinHttp::PerformRequest(const wchar_t* url, HttpVerb verb, const char* data,
                                     const wchar_t* extraHeaders) {
  if (!Open(http_detail::WideOrEmpty(url), verb == HttpVerbPost ? L"POST" : L"GET", data,
            http_detail::WideOrEmpty(extraHeaders))) {
    return "";
  }
  statusCode_ = http_detail::QueryStatus(handles_.request);
  if (statusCode_ == 404) {
    Raise(HttpErrNotFound);
    return "";
  }
  std::string body;
  switch (http_detail::ReadRest(handles_.request, body, kHttpMaxTextBody)) {
    case http_detail::BodyRead::kComplete:
      return body;
    case http_detail::BodyRead::kTooLarge:
      Raise(HttpErrSize);
      return "";
    case http_detail::BodyRead::kFailed:
      // An incomplete body is dropped without a code of its own.
      break;
  }
  return "";
}

std::string CWinHttp::PerformRequest(const char* url, HttpVerb verb, const char* data,
                                     const char* extraHeaders) {
  const std::wstring wideUrl = Wide(http_detail::NarrowOrEmpty(url));
  const std::wstring wideHeaders = Wide(http_detail::NarrowOrEmpty(extraHeaders));
  return PerformRequest(wideUrl.c_str(), verb, data, extraHeaders ? wideHeaders.c_str() : nullptr);
}
