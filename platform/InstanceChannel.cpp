#include "platform/InstanceChannel.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>

namespace platform {
namespace {

constexpr char kAsk[] = "present\n";
constexpr char kAnswer[] = "ok\n";

bool MakeAddress(const std::string& path, sockaddr_un& addr) {
  std::memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) return false;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  return true;
}

int RemainingMs(std::chrono::steady_clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Reads until `want` has arrived or the deadline passes.
bool ReadExactly(int fd, const char* want, std::chrono::steady_clock::time_point deadline) {
  std::size_t got = 0;
  const std::size_t size = std::strlen(want);
  char buf[16];
  while (got < size) {
    pollfd p{fd, POLLIN, 0};
    int r = ::poll(&p, 1, RemainingMs(deadline));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    ssize_t n = ::read(fd, buf, std::min(sizeof buf, size - got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || std::memcmp(buf, want + got, static_cast<std::size_t>(n)) != 0) return false;
    got += static_cast<std::size_t>(n);
  }
  return true;
}

// Only a process of our own user may ask us, or answer us: the socket's folder already keeps
// others out, this holds even if someone put their own socket at our name.
bool PeerIsUs(int fd) {
  ucred cred{};
  socklen_t len = sizeof cred;
  return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0 && len == sizeof cred &&
         cred.uid == ::geteuid();
}

bool WriteText(int fd, const char* text) {
  std::size_t size = std::strlen(text);
  // MSG_NOSIGNAL: a peer that went away must not kill us with SIGPIPE.
  return ::send(fd, text, size, MSG_NOSIGNAL) == static_cast<ssize_t>(size);
}

}  // namespace

struct InstanceChannel::Impl {
  int listenFd = -1;
  int wakeRead = -1;
  int wakeWrite = -1;
  std::string socketPath;
  std::function<void()> onPresent;
  std::thread thread;

  void Run() {
    for (;;) {
      pollfd fds[2] = {{listenFd, POLLIN, 0}, {wakeRead, POLLIN, 0}};
      int r = ::poll(fds, 2, -1);
      if (r < 0 && errno == EINTR) continue;
      if (r < 0 || (fds[1].revents & (POLLIN | POLLHUP)) != 0) return;
      if ((fds[0].revents & POLLIN) == 0) continue;
      int peer = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
      if (peer < 0) continue;
      if (!PeerIsUs(peer)) {
        ::close(peer);
        continue;
      }
      // A silent or slow peer may hold us up only briefly.
      auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
      if (ReadExactly(peer, kAsk, deadline)) {
        try {
          onPresent();
        } catch (...) {
        }
        WriteText(peer, kAnswer);
      }
      ::close(peer);
    }
  }
};

InstanceChannel::InstanceChannel() = default;

InstanceChannel::~InstanceChannel() {
  Stop();
}

std::string InstanceChannel::SocketPathFor(const std::string& lockPath) {
  std::string base = lockPath;
  if (base.size() > 5 && base.compare(base.size() - 5, 5, ".lock") == 0) {
    base.erase(base.size() - 5);
  }
  std::string path = base + ".sock";
  if (path.size() < sizeof(sockaddr_un{}.sun_path)) return path;
  // Socket paths are limited to 107 bytes; long lock names use a hash in the same folder.
  std::uint64_t h = 1469598103934665603ull;
  for (unsigned char c : lockPath) h = (h ^ c) * 1099511628211ull;
  char name[40];
  std::snprintf(name, sizeof name, "/kvdownloader-%016llx.sock",
                static_cast<unsigned long long>(h));
  return lockPath.substr(0, lockPath.find_last_of('/')) + name;
}

bool InstanceChannel::Listen(const NamedLock& lock, std::function<void()> onPresent) {
  if (impl_ || !onPresent || lock.LockPath().empty()) return false;
  auto impl = std::make_unique<Impl>();
  impl->socketPath = SocketPathFor(lock.LockPath());
  impl->onPresent = std::move(onPresent);
  sockaddr_un addr;
  if (!MakeAddress(impl->socketPath, addr)) return false;
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return false;
  impl->wakeRead = pipeFds[0];
  impl->wakeWrite = pipeFds[1];
  impl->listenFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  // We hold the lock, so a socket left at the path is a dead holder's.
  ::unlink(impl->socketPath.c_str());
  bool ok = impl->listenFd >= 0 &&
            ::bind(impl->listenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
            ::chmod(impl->socketPath.c_str(), 0600) == 0 && ::listen(impl->listenFd, 8) == 0;
  if (ok) {
    try {
      impl->thread = std::thread([p = impl.get()] { p->Run(); });
    } catch (...) {
      ok = false;
    }
  }
  if (!ok) {
    if (impl->listenFd >= 0) ::close(impl->listenFd);
    // No socket file is left behind for a channel that never listened.
    ::unlink(impl->socketPath.c_str());
    ::close(impl->wakeRead);
    ::close(impl->wakeWrite);
    return false;
  }
  impl_ = std::move(impl);
  return true;
}

void InstanceChannel::Stop() {
  if (!impl_) return;
  ::close(impl_->wakeWrite);  // wakes the thread with POLLHUP
  if (impl_->thread.joinable()) impl_->thread.join();
  ::close(impl_->wakeRead);
  ::close(impl_->listenFd);
  ::unlink(impl_->socketPath.c_str());
  impl_.reset();
}

bool InstanceChannel::AskPresent(const NamedLock& lock, std::chrono::milliseconds timeout) {
  if (lock.LockPath().empty()) return false;
  sockaddr_un addr;
  if (!MakeAddress(SocketPathFor(lock.LockPath()), addr)) return false;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  // The first instance may still be starting: retry the connection until the deadline.
  for (;;) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
      bool ok = PeerIsUs(fd) && WriteText(fd, kAsk) && ReadExactly(fd, kAnswer, deadline);
      ::close(fd);
      return ok;
    }
    ::close(fd);
    if (RemainingMs(deadline) == 0) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

}  // namespace platform
