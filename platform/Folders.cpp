#include "platform/Folders.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>
#include <vector>

#include "platform/Elevation.h"

namespace platform {
namespace {

constexpr mode_t kFolderMode = 0755;
// A hostile tree may be arbitrarily deep; removal stops there and leaves the rest aside.
constexpr int kMaxRemoveDepth = 64;

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { Reset(); }
  Fd(Fd&& o) noexcept : fd_(o.Release()) {}
  Fd& operator=(Fd&& o) noexcept {
    if (this != &o) {
      Reset();
      fd_ = o.Release();
    }
    return *this;
  }
  int get() const { return fd_; }
  bool ok() const { return fd_ >= 0; }
  int Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void Reset() {
    if (fd_ >= 0) {
      int saved = errno;
      ::close(fd_);
      errno = saved;
    }
    fd_ = -1;
  }

 private:
  int fd_;
};

std::vector<std::string> Components(const std::string& path) {
  std::vector<std::string> out;
  for (std::size_t start = 0; start <= path.size();) {
    std::size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    std::string part = path.substr(start, end - start);
    if (!part.empty() && part != ".") out.push_back(part);
    start = end + 1;
  }
  return out;
}

bool HasDotDot(const std::vector<std::string>& parts) {
  for (const auto& p : parts) {
    if (p == "..") return true;
  }
  return false;
}

// Owned by root or us, writable by nobody else. Sticky world-writable folders fail here too.
bool TrustedOwnerAndMode(const struct stat& st) {
  return (st.st_uid == 0 || st.st_uid == ::geteuid()) && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// What we demand of a folder of our own private tree.
bool IsPrivateFolder(const struct stat& st) {
  return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

int OpenDir(int parent, const char* name, bool follow) {
  return ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC | (follow ? 0 : O_NOFOLLOW));
}

// Opens `name` below `parent`, making it when missing.
Fd OpenOrMakeDir(int parent, const std::string& name, bool follow) {
  Fd fd(OpenDir(parent, name.c_str(), follow));
  if (fd.ok() || errno != ENOENT) return fd;
  if (::mkdirat(parent, name.c_str(), kFolderMode) != 0 && errno != EEXIST) return Fd();
  return Fd(OpenDir(parent, name.c_str(), follow));
}

Fd OpenTree(const std::vector<std::string>& parts, bool absolute, bool follow) {
  Fd fd(::open(absolute ? "/" : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  for (const auto& part : parts) {
    if (!fd.ok()) break;
    fd = OpenOrMakeDir(fd.get(), part, follow);
  }
  return fd;
}

// Removes `name` below `parent` and everything in it without following any link: links and
// files are unlinked, folders emptied through descriptors first. Best effort.
void RemoveTree(int parent, const std::string& name, int depth) {
  Fd dir(::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!dir.ok()) {
    ::unlinkat(parent, name.c_str(), 0);
    return;
  }
  if (depth >= kMaxRemoveDepth) return;
  // Whoever owned it may no longer add to it while it is emptied.
  (void)!::fchown(dir.get(), ::geteuid(), ::getegid());
  (void)!::fchmod(dir.get(), 0700);
  int listFd = ::fcntl(dir.get(), F_DUPFD_CLOEXEC, 0);
  if (listFd < 0) return;
  DIR* list = ::fdopendir(listFd);
  if (list == nullptr) {
    ::close(listFd);
    return;
  }
  std::vector<std::string> entries;
  while (dirent* e = ::readdir(list)) {
    std::string n = e->d_name;
    if (n != "." && n != "..") entries.push_back(n);
  }
  ::closedir(list);
  for (const auto& n : entries) {
    if (::unlinkat(dir.get(), n.c_str(), 0) != 0 && (errno == EISDIR || errno == EPERM)) {
      RemoveTree(dir.get(), n, depth + 1);
    }
  }
  ::unlinkat(parent, name.c_str(), AT_REMOVEDIR);
}

std::string AsideName(const std::string& name) {
  std::random_device rd;
  return "." + name + ".refused-" + std::to_string(rd()) + std::to_string(rd());
}

// Splits "/a/b/name" into the folder's parts and "name"; false for a path without a name.
bool SplitLast(const std::string& path, std::vector<std::string>& folder, std::string& name) {
  folder = Components(path);
  if (folder.empty() || path.back() == '/') return false;
  name = folder.back();
  folder.pop_back();
  return name != "..";
}

}  // namespace

bool PathSafeForRoot(const std::string& path) {
  if (path.empty() || path.front() != '/') return false;
  std::vector<std::string> parts = Components(path);
  if (HasDotDot(parts)) return false;
  Fd fd(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
  struct stat st {};
  if (!fd.ok() || ::fstat(fd.get(), &st) != 0 || !TrustedOwnerAndMode(st)) return false;
  for (const auto& part : parts) {
    if (!S_ISDIR(st.st_mode)) return false;  // only the last component may be a file
    Fd next(::openat(fd.get(), part.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    if (!next.ok()) return errno == ENOENT;
    if (::fstat(next.get(), &st) != 0 || S_ISLNK(st.st_mode) || !TrustedOwnerAndMode(st)) {
      return false;
    }
    if (!S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode)) return false;
    fd = std::move(next);
  }
  return true;
}

int OpenFolderTree(const std::string& path) {
  if (path.empty()) {
    errno = ENOENT;
    return -1;
  }
  return OpenTree(Components(path), path.front() == '/', !IsElevated()).Release();
}

int OpenFileNoFollow(const std::string& path, int flags, mode_t mode) {
  std::vector<std::string> folder;
  std::string name;
  if (!SplitLast(path, folder, name)) {
    errno = EINVAL;
    return -1;
  }
  Fd dir = OpenTree(folder, path.front() == '/', !IsElevated());
  if (!dir.ok()) return -1;
  return ::openat(dir.get(), name.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, mode);
}

bool WriteFileNoFollow(const std::string& path, const std::string& bytes, mode_t mode) {
  std::vector<std::string> folder;
  std::string name;
  if (!SplitLast(path, folder, name)) return false;
  Fd dir = OpenTree(folder, path.front() == '/', !IsElevated());
  if (!dir.ok()) return false;
  const std::string temp = AsideName(name);
  Fd file(::openat(dir.get(), temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                   0600));
  if (!file.ok()) return false;
  bool ok = ::fchmod(file.get(), mode) == 0;
  for (std::size_t done = 0; ok && done < bytes.size();) {
    ssize_t n = ::write(file.get(), bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += static_cast<std::size_t>(n);
  }
  file.Reset();
  // rename replaces whatever is at the name, a link included, without following it.
  ok = ok && ::renameat(dir.get(), temp.c_str(), dir.get(), name.c_str()) == 0;
  if (!ok) ::unlinkat(dir.get(), temp.c_str(), 0);
  return ok;
}

bool IsPrivateRegularFile(int fd) {
  struct stat st {};
  return fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
         (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

bool SetFileModeOf(int fd, mode_t mode) {
  return fd >= 0 && ::fchmod(fd, mode) == 0;
}

void CloseFile(int fd) {
  if (fd >= 0) ::close(fd);
}

std::optional<std::string> ReadWholeFile(const std::string& path, std::size_t maxBytes) {
  // O_NONBLOCK: a named pipe at the path must not make us wait for a writer.
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  struct stat st {};
  if (!fd.ok() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
      static_cast<std::size_t>(st.st_size) > maxBytes) {
    return std::nullopt;
  }
  std::string out;
  char buf[16384];
  for (;;) {
    ssize_t n = ::read(fd.get(), buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) return out;
    if (out.size() + static_cast<std::size_t>(n) > maxBytes) return std::nullopt;
    out.append(buf, static_cast<std::size_t>(n));
  }
}

PrepareResult PreparePrivateFolderTree(const std::string& path, const std::string& base) {
  std::vector<std::string> baseParts = Components(base);
  std::vector<std::string> parts = Components(path);
  if (path.empty() || base.empty() || path.front() != '/' || base.front() != '/' ||
      HasDotDot(parts) || HasDotDot(baseParts) || parts.size() < baseParts.size() ||
      !std::equal(baseParts.begin(), baseParts.end(), parts.begin())) {
    return PrepareResult::Failed;
  }
  const bool elevated = IsElevated();
  if (elevated && !PathSafeForRoot(base)) return PrepareResult::Failed;
  Fd fd = OpenTree(baseParts, true, !elevated);
  struct stat st {};
  // Checked again on the descriptor we go on from.
  if (!fd.ok() || ::fstat(fd.get(), &st) != 0 || (elevated && !TrustedOwnerAndMode(st))) {
    return PrepareResult::Failed;
  }
  bool replaced = false;
  for (std::size_t i = baseParts.size(); i < parts.size(); ++i) {
    const std::string& name = parts[i];
    Fd next = OpenOrMakeDir(fd.get(), name, false);
    if (next.ok() && ::fstat(next.get(), &st) == 0 && IsPrivateFolder(st)) {
      fd = std::move(next);
      continue;
    }
    // A link, a file, or a folder someone else could change: out of the way with it.
    next.Reset();
    const std::string aside = AsideName(name);
    if (::renameat(fd.get(), name.c_str(), fd.get(), aside.c_str()) != 0) {
      return PrepareResult::Failed;
    }
    RemoveTree(fd.get(), aside, 0);
    replaced = true;
    if (::mkdirat(fd.get(), name.c_str(), kFolderMode) != 0) return PrepareResult::Failed;
    next = Fd(OpenDir(fd.get(), name.c_str(), false));
    if (!next.ok() || ::fstat(next.get(), &st) != 0 || !IsPrivateFolder(st)) {
      return PrepareResult::Failed;
    }
    fd = std::move(next);
  }
  return replaced ? PrepareResult::Replaced : PrepareResult::Ready;
}

}  // namespace platform
