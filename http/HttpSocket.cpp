#include "http/HttpSocket.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "http/HttpUrl.h"
#include "http/detail/HttpText.h"

using http_detail::Narrow;
using http_detail::Wide;

namespace {

constexpr std::size_t kChunk = 4096;
constexpr int kMaxMemoryBody = 0x800000;
constexpr int kReceiveTimeoutMs = 10000;

void RemoveFile(const std::string& path) {
  if (!path.empty()) std::remove(path.c_str());
}

bool IsRedirectStatus(int status) {
  return status >= 301 && status <= 399;
}

// recv that is not cut short by a signal.
ssize_t Receive(int fd, char* buf, std::size_t size) {
  ssize_t n;
  do {
    n = recv(fd, buf, size, 0);
  } while (n < 0 && errno == EINTR);
  return n;
}

bool StartsWith(const std::string& s, const char* prefix) {
  return s.compare(0, std::strlen(prefix), prefix) == 0;
}

}  // namespace

CHttpSocket::CHttpSocket() = default;

CHttpSocket::~CHttpSocket() {
  CloseSocket();
}

void CHttpSocket::SetProgressSink(IHttpProgressSink* sink, void* userValue) {
  sink_ = sink;
  sinkUser_ = userValue;
}

void CHttpSocket::Release() {
  delete this;
}

void CHttpSocket::AddRequestHeader(const char* name, const char* value) {
  if (name && value) header_.AddField(name, value);
}

void CHttpSocket::CloseSocket() {
  if (socket_ >= 0) close(socket_);
  socket_ = -1;
}

bool CHttpSocket::Connect(const std::string& host, std::uint16_t port) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* res = nullptr;
  if (host.empty() || getaddrinfo(host.c_str(), nullptr, &hints, &res) != 0 || !res) {
    Raise(HttpErrResolve);
    return false;
  }
  sockaddr_in addr = *reinterpret_cast<sockaddr_in*>(res->ai_addr);
  freeaddrinfo(res);
  char text[16];
  const auto* b = reinterpret_cast<const unsigned char*>(&addr.sin_addr);
  std::snprintf(text, sizeof text, "%d.%d.%d.%d", b[0], b[1], b[2], b[3]);
  peerAddress_ = Wide(text);

  CloseSocket();
  socket_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (socket_ < 0) {
    Raise(HttpErrSocket);
    return false;
  }
  timeval tv{kReceiveTimeoutMs / 1000, (kReceiveTimeoutMs % 1000) * 1000};
  setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  addr.sin_port = htons(port);
  if (connect(socket_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    Raise(HttpErrConnect);
    return false;
  }
  return true;
}

bool CHttpSocket::SendRequest(const std::string& host, const std::string& path) {
  header_.SetField("Host", host);
  header_.SetRequestPath(path);
  const std::string text = header_.BuildRequest();
  std::size_t sent = 0;
  while (sent < text.size()) {
    ssize_t n = send(socket_, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) {
      Raise(HttpErrSend);
      return false;
    }
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

bool CHttpSocket::FetchToFile(const wchar_t* urlArg, const wchar_t* pathArg) {
  std::wstring url = http_detail::WideOrEmpty(urlArg);
  const std::string filePath = Narrow(http_detail::WideOrEmpty(pathArg));
  int redirects = 0;
  auto fail = [&](bool raised) {
    if (raised && sink_) sink_->OnProgress(sinkUser_, HttpTransferFailed, 0, 0);
    RemoveFile(filePath);
    return false;
  };
  for (;;) {
    std::wstring host, path;
    std::uint16_t port = 0;
    ParseHttpUrl(url, host, path, port);
    // No TLS here, and an https URL is never asked in plain text. A redirect that lands on
    // one still loses the file it started.
    if (UsesTls(url, port)) return redirects == 0 ? false : fail(false);
    const std::string host8 = Narrow(host);
    if (!Connect(host8, port)) return fail(false);
    std::string requestPath = Narrow(path);
    for (;;) {
      if (!SendRequest(host8, requestPath)) return fail(true);
      RemoveFile(filePath);
      std::FILE* file = filePath.empty() ? nullptr : std::fopen(filePath.c_str(), "wb+e");
      if (!file) {
        Raise(HttpErrCreateFile);
        return fail(true);
      }
      std::string location;
      const Outcome outcome = ReceiveToFile(file, location);
      std::fclose(file);
      if (outcome == Outcome::Done) return true;
      if (outcome == Outcome::Failed || outcome == Outcome::Closed) {
        return fail(outcome == Outcome::Failed);
      }
      if (location.empty() || ++redirects > kHttpMaxRedirects) {
        Raise(HttpErrRedirect);
        return fail(true);
      }
      if (StartsWith(location, "http://") || StartsWith(location, "https://")) {
        CloseSocket();
        url = Wide(location);
        break;
      }
      requestPath = location;
    }
  }
}

CHttpSocket::Outcome CHttpSocket::TakeHeader(const std::string& text, CHttpHeader& response,
                                             std::string& location) {
  response.ParseResponse(text);
  statusCode_ = response.statusCode();
  if (statusCode_ == 400) {
    Raise(HttpErrNotFound);
    return Outcome::Failed;
  }
  if (IsRedirectStatus(statusCode_)) {
    location = response.GetField("Location");
    return Outcome::Redirect;
  }
  return Outcome::Body;
}

CHttpSocket::Outcome CHttpSocket::ReceiveToFile(std::FILE* file, std::string& location) {
  char buf[kChunk + 1];
  bool headerSeen = false;
  bool lengthKnown = false;
  double total = 0;
  double done = 0;
  auto write = [&](const char* data, std::size_t n) {
    if (std::fwrite(data, 1, n, file) == n) return true;
    Raise(HttpErrWriteFile);
    return false;
  };
  auto finished = [&] {
    if (sink_) sink_->OnProgress(sinkUser_, HttpTransferFinished, total, done);
    return Outcome::Done;
  };
  for (;;) {
    if (sink_ && sink_->CancelRequested()) {
      Raise(HttpErrCancelled);
      return Outcome::Failed;
    }
    ssize_t n = Receive(socket_, buf, kChunk);
    if (n < 0) {
      Raise(HttpErrSocket);
      return Outcome::Failed;
    }
    if (n == 0) {
      // Without a length the body ends where the server closes the connection.
      if (headerSeen && !lengthKnown) return finished();
      return Outcome::Closed;
    }
    const std::size_t got = static_cast<std::size_t>(n);
    buf[got] = '\0';
    if (!headerSeen) {
      // Each chunk is searched by itself, as a C string: a header split over two reads is
      // not found and the chunk is dropped.
      const std::string_view text(buf, std::strlen(buf));
      const std::size_t p = text.find("\r\n\r\n");
      if (p == std::string_view::npos) continue;
      CHttpHeader response;
      const Outcome o = TakeHeader(std::string(buf, p), response, location);
      if (o != Outcome::Body) return o;
      const std::string length = response.GetField("Content-Length");
      lengthKnown = !length.empty();
      total = std::atof(length.c_str());
      const std::size_t extra = got - p - 4;
      if (extra > 0) {
        if (!write(buf + p + 4, extra)) return Outcome::Failed;
        done = static_cast<double>(extra);
        if (sink_) sink_->OnProgress(sinkUser_, HttpTransferRunning, total, done);
      }
      if (done == total) return finished();
      headerSeen = true;
      continue;
    }
    if (!write(buf, got)) return Outcome::Failed;
    done += static_cast<double>(got);
    if (sink_) sink_->OnProgress(sinkUser_, HttpTransferRunning, total, done);
    if (done >= total) return finished();
  }
}

bool CHttpSocket::FetchToMemory(const wchar_t* urlArg, void** buffer, int* size) {
  if (!buffer || !size) {
    Raise(HttpErrParam);
    return false;
  }
  std::wstring url = http_detail::WideOrEmpty(urlArg);
  int redirects = 0;
  auto fail = [&] {
    *buffer = nullptr;
    *size = 0;
    return false;
  };
  for (;;) {
    std::wstring host, path;
    std::uint16_t port = 0;
    ParseHttpUrl(url, host, path, port);
    if (UsesTls(url, port)) return false;
    const std::string host8 = Narrow(host);
    if (!Connect(host8, port)) {
      Raise(HttpErrOpen);
      return fail();
    }
    std::string requestPath = Narrow(path);
    for (;;) {
      if (!SendRequest(host8, requestPath)) return fail();
      std::string location;
      const Outcome outcome = ReceiveToMemory(buffer, size, location);
      if (outcome == Outcome::Done) return true;
      if (outcome == Outcome::Failed || outcome == Outcome::Closed) return fail();
      if (location.empty() || ++redirects > kHttpMaxRedirects) {
        Raise(HttpErrRedirect);
        return fail();
      }
      if (StartsWith(location, "http://") || StartsWith(location, "https://")) {
        CloseSocket();
        url = Wide(location);
        break;
      }
      requestPath = location;
    }
  }
}

CHttpSocket::Outcome CHttpSocket::ReceiveToMemory(void** buffer, int* size, std::string& location) {
  char buf[kChunk];
  ssize_t n = Receive(socket_, buf, kChunk);
  if (n < 0) {
    Raise(HttpErrSocket);
    return Outcome::Failed;
  }
  if (n == 0) return Outcome::Closed;
  const std::string_view text(buf, static_cast<std::size_t>(n));
  const std::size_t p = text.find("\r\n\r\n");
  if (p == std::string_view::npos) {
    Raise(HttpErrHeader);
    return Outcome::Failed;
  }
  CHttpHeader response;
  const Outcome o = TakeHeader(std::string(buf, p), response, location);
  if (o != Outcome::Body) return o;
  const long long announced =
      std::strtoll(response.GetField("Content-Length").c_str(), nullptr, 10);
  const int length = announced > INT_MAX ? INT_MAX
                     : announced < 0     ? -1
                                         : static_cast<int>(announced);
  *size = length;
  if (length < 1 || length > kMaxMemoryBody) {
    Raise(HttpErrSize);
    return Outcome::Failed;
  }
  auto* block = static_cast<char*>(std::malloc(static_cast<std::size_t>(length)));
  if (!block) {
    Raise(HttpErrSize);
    return Outcome::Failed;
  }
  const std::size_t want = static_cast<std::size_t>(length);
  std::size_t count = std::min(want, static_cast<std::size_t>(n) - p - 4);
  std::memcpy(block, buf + p + 4, count);
  while (count < want) {
    n = Receive(socket_, buf, kChunk);
    if (n <= 0) {
      std::free(block);
      if (n == 0) return Outcome::Closed;
      Raise(HttpErrSocket);
      return Outcome::Failed;
    }
    // Bytes past the announced length are never stored.
    const std::size_t take = std::min(want - count, static_cast<std::size_t>(n));
    std::memcpy(block + count, buf, take);
    count += take;
  }
  *buffer = block;
  return Outcome::Done;
}
