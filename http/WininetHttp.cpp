#include "http/WininetHttp.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "http/HttpUrl.h"
#include "http/detail/HttpText.h"

using namespace platform;
using http_detail::Narrow;
using http_detail::Wide;

namespace {

constexpr std::size_t kChunk = 4096;
constexpr long kMaxMemoryBody = 0x800000;

// Every missing folder on the way to `path`.
void CreateParentFolders(const std::string& path) {
  for (std::size_t p = path.find('/', 1); p != std::string::npos; p = path.find('/', p + 1)) {
    const std::string folder = path.substr(0, p);
    struct stat st;
    if (stat(folder.c_str(), &st) != 0) mkdir(folder.c_str(), 0755);
  }
}

const wchar_t* VerbText(HttpVerb verb) {
  return verb == HttpVerbPost ? L"POST" : L"GET";
}

}  // namespace

CWininetHttp::CWininetHttp() = default;

CWininetHttp::~CWininetHttp() {
  handles_.Close();
}

void CWininetHttp::SetProgressSink(IHttpProgressSink* sink, void* userValue) {
  sink_ = sink;
  sinkUser_ = userValue;
}

void CWininetHttp::Release() {
  delete this;
}

void CWininetHttp::AddRequestHeader(const char* name, const char* value) {
  if (name && value) header_.AddField(name, value);
}

bool CWininetHttp::Raise(HttpInterfaceError code) {
  lastError_ = code;
  return false;
}

bool CWininetHttp::Open(const std::wstring& host, const std::wstring& path, std::uint16_t port,
                        bool tls, const wchar_t* verb, const char* data,
                        const std::wstring& extraHeaders) {
  handles_.Close();
  handles_.session = WebOpen(L"Http-connect", WebAccess::DefaultProxy);
  if (!handles_.session) return Raise(HttpErrOpen);
  // Decided per request: a flag kept from an earlier request would make a later plain request
  // fail its handshake.
  secure_ = tls;
  handles_.connection = WebConnect(handles_.session, host, port);
  if (!handles_.connection) return Raise(HttpErrConnect);
  handles_.request = WebOpenRequest(handles_.connection, verb, path, secure_ ? kWebFlagSecure : 0);
  if (!handles_.request) return Raise(HttpErrOpen);
  if (secure_) WebSetOption(handles_.request, kWebOptionSecurityFlags, kWebIgnoreCertDateInvalid);
  WebAddRequestHeaders(handles_.request, Wide(header_.BuildFieldLines()));
  const std::size_t length = data ? std::strlen(data) : 0;
  if (!WebSendRequest(handles_.request, extraHeaders, data, length) ||
      !WebReceiveResponse(handles_.request)) {
    return Raise(HttpErrSend);
  }
  statusCode_ = http_detail::QueryStatus(handles_.request);
  if (statusCode_ == 404) return Raise(HttpErrNotFound);
  return true;
}

bool CWininetHttp::FetchToFile(const wchar_t* url, const wchar_t* filePath) {
  auto failed = [this](HttpInterfaceError code) {
    if (code != HttpErrNone) lastError_ = code;
    if (sink_) sink_->OnProgress(sinkUser_, HttpTransferFailed, 0, 0);
    return false;
  };
  if (!url || !*url) return failed(HttpErrBadUrl);
  std::wstring host, path;
  std::uint16_t port = 0;
  ParseHttpUrl(url, host, path, port);
  if (!Open(host, path, port, UsesTls(url, port), L"GET", nullptr, L"")) {
    return failed(HttpErrNone);
  }

  std::string lengthText;
  if (!WebQueryHeader(handles_.request, "Content-Length", lengthText)) {
    return failed(HttpErrQuery);
  }
  const double total = std::atof(lengthText.c_str());
  const std::size_t chunk = !(total > 0)     ? 0
                            : total < kChunk ? static_cast<std::size_t>(total)
                                             : kChunk;
  std::vector<char> buffer(chunk);

  const std::string target = Narrow(http_detail::WideOrEmpty(filePath));
  CreateParentFolders(target);
  std::FILE* file = target.empty() ? nullptr : std::fopen(target.c_str(), "wb+e");
  if (!file) return failed(HttpErrCreateFile);
  double done = 0;
  bool writeFailed = false;
  for (;;) {
    std::size_t n = 0;
    if (chunk == 0 || !WebReadData(handles_.request, buffer.data(), chunk, n) || n == 0) break;
    if (std::fwrite(buffer.data(), 1, n, file) != n) {
      writeFailed = true;
      break;
    }
    done += static_cast<double>(n);
    if (sink_) sink_->OnProgress(sinkUser_, HttpTransferRunning, total, done);
  }
  std::fclose(file);
  // The partial file stays on disk.
  if (writeFailed) return failed(HttpErrWriteFile);
  if (done != total) return failed(HttpErrIncomplete);
  if (sink_) sink_->OnProgress(sinkUser_, HttpTransferFinished, total, done);
  return true;
}

bool CWininetHttp::FetchToMemory(const wchar_t* url, void** buffer, int* size) {
  if (!url || !*url) return Raise(HttpErrBadUrl);
  if (!buffer || !size) return Raise(HttpErrParam);
  std::wstring host, path;
  std::uint16_t port = 0;
  ParseHttpUrl(url, host, path, port);
  if (!Open(host, path, port, UsesTls(url, port), L"GET", nullptr, L"")) return false;

  std::string lengthText;
  bool lengthKnown = true;
  long blockSize = kMaxMemoryBody;
  if (WebQueryHeader(handles_.request, "Content-Length", lengthText)) {
    blockSize = std::wcstol(Wide(lengthText).c_str(), nullptr, 10);
    if (blockSize > kMaxMemoryBody || blockSize < 0) return Raise(HttpErrSize);
  } else if (WebGetLastError() == kWebErrHeaderNotFound) {
    lengthKnown = false;
  } else {
    return Raise(HttpErrQuery);
  }
  const std::size_t capacity = static_cast<std::size_t>(blockSize);
  char* block = static_cast<char*>(std::malloc(capacity > 0 ? capacity : 1));
  if (!block) return Raise(HttpErrSize);
  std::size_t count = 0;
  HttpInterfaceError error = HttpErrNone;
  for (;;) {
    std::size_t n = 0;
    if (count == capacity) {
      // The block is full: one more byte means the body does not fit (nothing is written
      // past the block).
      char probe;
      if (!WebReadData(handles_.request, &probe, 1, n)) error = HttpErrIncomplete;
      if (n > 0) error = lengthKnown ? HttpErrIncomplete : HttpErrSize;
      break;
    }
    if (!WebReadData(handles_.request, block + count, capacity - count, n)) {
      // A broken transfer is never handed out as a whole body.
      error = HttpErrIncomplete;
      break;
    }
    if (n == 0) break;
    count += n;
  }
  if (error == HttpErrNone && lengthKnown && count != capacity) error = HttpErrIncomplete;
  if (error != HttpErrNone) {
    std::free(block);
    return Raise(error);
  }
  *buffer = block;
  *size = static_cast<int>(count);
  return true;
}

std::string CWininetHttp::Perform(const std::wstring& host, const std::wstring& path,
                                  std::uint16_t port, bool tls, HttpVerb verb, const char* data,
                                  const std::wstring& extraHeaders) {
  if (!Open(host, path, port, tls, VerbText(verb), data, extraHeaders)) return "";
  std::string body;
  switch (http_detail::ReadRest(handles_.request, body, kHttpMaxTextBody)) {
    case http_detail::BodyRead::kComplete:
      return body;
    case http_detail::BodyRead::kTooLarge:
      Raise(HttpErrSize);
      return "";
    case http_detail::BodyRead::kFailed:
      // A body cut short is not returned as if it were whole.
      Raise(HttpErrIncomplete);
      break;
  }
  return "";
}

std::string CWininetHttp::PerformRequest(const wchar_t* url, HttpVerb verb, const char* data,
                                         const wchar_t* extraHeaders) {
  if (!url || !*url) {
    Raise(HttpErrParam);
    return "";
  }
  std::wstring host, path;
  std::uint16_t port = 0;
  ParseHttpUrl(url, host, path, port);
  return Perform(host, path, port, UsesTls(url, port), verb, data,
                 http_detail::WideOrEmpty(extraHeaders));
}

std::string CWininetHttp::PerformRequest(const char* url, HttpVerb verb, const char* data,
                                         const char* extraHeaders) {
  if (!url || !*url) {
    Raise(HttpErrParam);
    return "";
  }
  std::string host, path;
  std::uint16_t port = 0;
  ParseHttpUrl(std::string(url), host, path, port);
  return Perform(Wide(host), Wide(path), port, UsesTls(std::string(url), port), verb, data,
                 Wide(http_detail::NarrowOrEmpty(extraHeaders)));
}
