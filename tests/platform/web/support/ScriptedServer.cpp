#include "tests/platform/web/support/ScriptedServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

namespace kvtest {
namespace {

// Waits for the socket to be readable; false on stop or error.
bool WaitReadable(int fd, const std::atomic<bool>& stop) {
  while (!stop) {
    pollfd p{fd, POLLIN, 0};
    int r = poll(&p, 1, 50);
    if (r > 0) return true;
    if (r < 0) return false;
  }
  return false;
}

bool SendAll(int fd, const std::string& bytes) {
  std::size_t off = 0;
  while (off < bytes.size()) {
    ssize_t n = send(fd, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
    if (n <= 0) return false;
    off += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

std::string ScriptedRequest::Field(const std::string& name) const {
  std::size_t pos = head.find("\r\n");
  while (pos != std::string::npos) {
    pos += 2;
    std::size_t end = head.find("\r\n", pos);
    std::string line = head.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
    std::size_t colon = line.find(':');
    if (colon != std::string::npos &&
        strcasecmp(line.substr(0, colon).c_str(), name.c_str()) == 0) {
      std::size_t v = line.find_first_not_of(' ', colon + 1);
      return v == std::string::npos ? "" : line.substr(v);
    }
    pos = end;
  }
  return "";
}

Reply Reply::Raw(std::string bytes, bool closeAfter) {
  Reply r;
  r.pieces.push_back({std::move(bytes), 0});
  r.close = closeAfter;
  return r;
}

Reply Reply::Text(int status, const std::string& body, const std::string& fields) {
  return Raw("HTTP/1.1 " + std::to_string(status) + " Scripted\r\nContent-Length: " +
             std::to_string(body.size()) + "\r\n" + fields + "\r\n" + body);
}

ScriptedServer::~ScriptedServer() {
  Stop();
}

bool ScriptedServer::Start(Handler handler, int port) {
  handler_ = std::move(handler);
  listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0) return false;
  int one = 1;
  setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  if (bind(listenFd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      listen(listenFd_, 16) != 0) {
    close(listenFd_);
    listenFd_ = -1;
    return false;
  }
  socklen_t len = sizeof a;
  getsockname(listenFd_, reinterpret_cast<sockaddr*>(&a), &len);
  port_ = ntohs(a.sin_port);
  stop_ = false;
  acceptThread_ = std::thread([this] { AcceptLoop(); });
  return true;
}

void ScriptedServer::Stop() {
  stop_ = true;
  if (acceptThread_.joinable()) acceptThread_.join();
  std::vector<std::thread> threads;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    threads.swap(connections_);
  }
  for (auto& t : threads) t.join();
  if (listenFd_ >= 0) close(listenFd_);
  listenFd_ = -1;
}

std::vector<ScriptedRequest> ScriptedServer::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

bool ScriptedServer::WaitForRequests(std::size_t count, int timeoutMs) const {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < until) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (requests_.size() >= count) return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

void ScriptedServer::AcceptLoop() {
  while (WaitReadable(listenFd_, stop_)) {
    int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::lock_guard<std::mutex> lock(mutex_);
    connections_.emplace_back([this, fd] { Serve(fd); });
  }
}

void ScriptedServer::Serve(int fd) {
  std::string in;
  char buf[8192];
  for (;;) {
    std::size_t end;
    for (;;) {
      // Empty lines before a request line are skipped, as servers do.
      while (in.compare(0, 2, "\r\n") == 0) in.erase(0, 2);
      end = in.find("\r\n\r\n");
      if (end != std::string::npos) break;
      if (!WaitReadable(fd, stop_)) goto done;
      ssize_t n = recv(fd, buf, sizeof buf, 0);
      if (n <= 0) goto done;
      in.append(buf, static_cast<std::size_t>(n));
    }
    ScriptedRequest req;
    req.head = in.substr(0, end);
    in.erase(0, end + 4);
    {
      std::size_t sp1 = req.head.find(' ');
      std::size_t sp2 = req.head.find(' ', sp1 + 1);
      req.method = req.head.substr(0, sp1);
      req.target = req.head.substr(sp1 + 1, sp2 - sp1 - 1);
    }
    std::size_t want = static_cast<std::size_t>(std::atoll(req.Field("Content-Length").c_str()));
    while (in.size() < want) {
      if (!WaitReadable(fd, stop_)) goto done;
      ssize_t n = recv(fd, buf, sizeof buf, 0);
      if (n <= 0) goto done;
      in.append(buf, static_cast<std::size_t>(n));
    }
    req.body = in.substr(0, want);
    in.erase(0, want);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      requests_.push_back(req);
    }
    Reply reply = handler_(req);
    for (const auto& piece : reply.pieces) {
      for (int waited = 0; waited < piece.pauseMsBefore && !stop_; waited += 10) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      if (stop_ || !SendAll(fd, piece.bytes)) goto done;
    }
    if (reply.close) break;
  }
done:
  shutdown(fd, SHUT_RDWR);
  close(fd);
}

}  // namespace kvtest
