#include "platform/NamedLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/Paths.h"
#include "platform/TextCodec.h"

namespace platform {
namespace {

// Names are any text; the file name keeps only safe bytes and escapes the rest, so that two
// different names never share a file.
std::string EscapeName(const std::wstring& name) {
  std::string out;
  for (unsigned char c : WideToUtf8(name)) {
    bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                c == '.' || c == '_' || c == '-';
    if (safe && !(out.empty() && c == '.')) {
      out += static_cast<char>(c);
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      out += hex;
    }
  }
  // File names are limited to 255 bytes: long names keep a prefix and a hash of the whole.
  if (out.size() > 180) {
    std::uint64_t h = 1469598103934665603ull;
    for (unsigned char c : out) h = (h ^ c) * 1099511628211ull;
    char hash[20];
    std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(h));
    out = out.substr(0, 160) + "~" + hash;
  }
  return out;
}

}  // namespace

std::string NamedLock::PathFor(const std::wstring& name) {
  std::string dir = EnvOrEmpty("XDG_RUNTIME_DIR");
  if (dir.empty() || dir.front() != '/') dir = "/tmp";
  return dir + "/kvdownloader-" + EscapeName(name) + ".lock";
}

NamedLock::~NamedLock() {
  if (fd_ >= 0) ::close(fd_);
}

NamedLockResult NamedLock::Acquire(const std::wstring& name) {
  if (fd_ >= 0) return NamedLockResult::Error;
  try {
    path_ = PathFor(name);
  } catch (...) {
    return NamedLockResult::Error;
  }
  int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
  // Another user's lock file may be readable only; a lock on a read descriptor still counts.
  if (fd < 0 && errno == EACCES) fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return NamedLockResult::Error;
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    int err = errno;
    ::close(fd);
    return err == EWOULDBLOCK ? NamedLockResult::AlreadyExists : NamedLockResult::Error;
  }
  fd_ = fd;
  return NamedLockResult::Created;
}

}  // namespace platform
