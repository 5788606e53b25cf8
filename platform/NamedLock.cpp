#include "platform/NamedLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/Elevation.h"
#include "platform/Folders.h"
#include "platform/Paths.h"
#include "platform/TextCodec.h"

namespace platform {
namespace {

constexpr char kRootFolder[] = "/run/kvdownloader";

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

std::string Errno(const std::string& what) {
  return what + ": " + std::strerror(errno);
}

// `path` as a folder only we may use: ours, not a link, nobody else may enter or write it. A
// folder of ours with a looser mode is tightened; anyone else's is refused.
bool UsePrivateFolder(const std::string& path, std::string& why) {
  int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT) {
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
      why = Errno("cannot make " + path);
      return false;
    }
    fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  }
  if (fd < 0) {
    why = Errno("cannot open " + path);
    return false;
  }
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0 && st.st_uid == ::geteuid();
  if (ok && (st.st_mode & 077) != 0) ok = ::fchmod(fd, 0700) == 0;
  ::close(fd);
  if (!ok) why = path + " is not a private folder of ours";
  return ok;
}

// $XDG_RUNTIME_DIR as the session made it: ours and closed to others. Taken as it is.
bool UsableRuntimeFolder(const std::string& path) {
  if (path.empty() || path.front() != '/') return false;
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
         (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

std::string LockFolder(std::string& why) {
  if (IsElevated()) {
    // sudo and pkexec drop XDG_RUNTIME_DIR; root's lock lives where only root can write.
    if (!PathSafeForRoot("/run")) {
      why = "/run is not safe for root";
      return {};
    }
    return UsePrivateFolder(kRootFolder, why) ? kRootFolder : std::string();
  }
  std::string runtime = EnvOrEmpty("XDG_RUNTIME_DIR");
  while (runtime.size() > 1 && runtime.back() == '/') runtime.pop_back();
  if (UsableRuntimeFolder(runtime)) return runtime;
  const std::string tmp = "/tmp/kvdownloader-" + std::to_string(::geteuid());
  if (UsePrivateFolder(tmp, why)) return tmp;
  // Someone else took our name in /tmp: the home folder is ours alone.
  std::string home = HomeFolder();
  if (home.empty() || home.front() != '/') return {};
  const std::string cache = home + "/.cache";
  if (!CreateFolderTree(cache)) {
    why += "; " + Errno("cannot make " + cache);
    return {};
  }
  std::string homeWhy;
  if (UsePrivateFolder(cache + "/kvdownloader", homeWhy)) return cache + "/kvdownloader";
  why += "; " + homeWhy;
  return {};
}

}  // namespace

std::string NamedLock::PathFor(const std::wstring& name) {
  std::string why;
  std::string folder = LockFolder(why);
  return folder.empty() ? folder : folder + "/kvdownloader-" + EscapeName(name) + ".lock";
}

NamedLock::~NamedLock() {
  if (fd_ < 0) return;
  // Removed while still locked: whoever opens the name next makes a new file, and a process
  // that opened the old one notices it is gone once it gets the lock.
  if (held_) ::unlink(path_.c_str());
  ::close(fd_);
}

NamedLockResult NamedLock::Acquire(const std::wstring& name) {
  if (fd_ >= 0) return NamedLockResult::Error;
  error_.clear();
  try {
    std::string folder = LockFolder(error_);
    if (folder.empty()) {
      if (error_.empty()) error_ = "no folder for the lock";
      return NamedLockResult::Error;
    }
    path_ = folder + "/kvdownloader-" + EscapeName(name) + ".lock";
  } catch (...) {
    error_ = "out of memory";
    return NamedLockResult::Error;
  }
  for (int attempt = 0; attempt < 8; ++attempt) {
    int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
      error_ = Errno("cannot open " + path_);
      return NamedLockResult::Error;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
      ::close(fd);
      error_ = path_ + " is not a lock file of ours";
      return NamedLockResult::Error;
    }
    int rc;
    do {
      rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
      int err = errno;
      ::close(fd);
      if (err == EWOULDBLOCK) return NamedLockResult::AlreadyExists;
      errno = err;
      error_ = Errno("cannot lock " + path_);
      return NamedLockResult::Error;
    }
    // The holder before us removes the file when it ends; a lock on that removed file counts
    // for nothing, so take the file that is at the name now.
    struct stat now {};
    if (::stat(path_.c_str(), &now) == 0 && now.st_dev == st.st_dev && now.st_ino == st.st_ino) {
      fd_ = fd;
      held_ = true;
      return NamedLockResult::Created;
    }
    ::close(fd);
  }
  error_ = path_ + " keeps being replaced";
  return NamedLockResult::Error;
}

}  // namespace platform
