#include "tests/platform/web/support/TunnelProxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>

namespace kvtest {
namespace {

bool SendAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

int ConnectLocal(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

TunnelProxy::~TunnelProxy() {
  Stop();
}

bool TunnelProxy::Start() {
  listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0) return false;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (bind(listenFd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      listen(listenFd_, 16) != 0 ||
      getsockname(listenFd_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    close(listenFd_);
    listenFd_ = -1;
    return false;
  }
  port_ = ntohs(a.sin_port);
  stop_ = false;
  acceptThread_ = std::thread([this] { AcceptLoop(); });
  return true;
}

void TunnelProxy::Stop() {
  stop_ = true;
  if (acceptThread_.joinable()) acceptThread_.join();
  std::vector<std::thread> threads;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    threads.swap(tunnels_);
  }
  for (auto& t : threads) t.join();
  if (listenFd_ >= 0) close(listenFd_);
  listenFd_ = -1;
}

std::vector<std::string> TunnelProxy::Targets() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return targets_;
}

void TunnelProxy::AcceptLoop() {
  while (!stop_) {
    pollfd p{listenFd_, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::lock_guard<std::mutex> lock(mutex_);
    tunnels_.emplace_back([this, fd] { Serve(fd); });
  }
}

void TunnelProxy::Serve(int client) {
  std::string head;
  char buf[16384];
  int server = -1;
  while (head.find("\r\n\r\n") == std::string::npos && !stop_) {
    pollfd p{client, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    ssize_t n = recv(client, buf, sizeof buf, 0);
    if (n <= 0) break;
    head.append(buf, static_cast<std::size_t>(n));
  }
  const std::size_t colon = head.find(':');
  const std::size_t end = head.find(' ', 8);
  if (head.compare(0, 8, "CONNECT ") == 0 && colon != std::string::npos &&
      end != std::string::npos) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      targets_.push_back(head.substr(8, end - 8));
    }
    server = ConnectLocal(std::atoi(head.c_str() + colon + 1));
  }
  const std::string answer = server >= 0 ? "HTTP/1.1 200 Connection established\r\n\r\n"
                                         : "HTTP/1.1 502 Bad Gateway\r\n\r\n";
  if (SendAll(client, answer.data(), answer.size()) && server >= 0) {
    // Bytes that came after the CONNECT header belong to the tunnel.
    const std::string early = head.substr(head.find("\r\n\r\n") + 4);
    bool open = SendAll(server, early.data(), early.size());
    while (open && !stop_) {
      pollfd p[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
      if (poll(p, 2, 50) <= 0) continue;
      for (int i = 0; i < 2 && open; ++i) {
        if (!(p[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        ssize_t n = recv(p[i].fd, buf, sizeof buf, 0);
        open = n > 0 && SendAll(p[1 - i].fd, buf, static_cast<std::size_t>(n));
      }
    }
  }
  if (server >= 0) close(server);
  shutdown(client, SHUT_RDWR);
  close(client);
}

}  // namespace kvtest
