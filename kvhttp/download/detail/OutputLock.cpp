#include "kvhttp/download/detail/OutputLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "kvhttp/download/detail/PathText.h"
#include "kvhttp/net/Error.h"

namespace kvhttp::detail {

namespace {

boost::system::error_code SystemError(int e) {
  return boost::system::error_code(e, boost::system::system_category());
}

}  // namespace

OutputLock::~OutputLock() {
  Release();
}

bool OutputLock::Acquire(const std::wstring& dataFile, boost::system::error_code& ec) {
  Release();
  ec.clear();
  const std::string path = PathToNative(dataFile);
  // The file may be replaced between the open and the lock (a run that just finished renames
  // it away); then the lock is on a file nobody will use again, and the open is repeated.
  for (int attempt = 0; attempt < 8; ++attempt) {
    bool created = false;
    // Read-only: the lock needs no more, and a writable descriptor would keep the finished
    // file from being started as a program (ETXTBSY) while it is held.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0 && errno == ENOENT) {
      fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
      created = fd >= 0;
      if (fd < 0 && errno == EEXIST) continue;
    }
    if (fd < 0) {
      ec = SystemError(errno);
      return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int e = errno;
      ::close(fd);
      ec = e == EWOULDBLOCK ? make_error_code(errc::output_locked) : SystemError(e);
      return false;
    }
    struct stat locked {
    }, named{};
    if (::fstat(fd, &locked) == 0 && ::stat(path.c_str(), &named) == 0 &&
        locked.st_dev == named.st_dev && locked.st_ino == named.st_ino) {
      fd_ = fd;
      path_ = path;
      created_ = created;
      return true;
    }
    ::close(fd);
  }
  ec = make_error_code(errc::output_locked);
  return false;
}

void OutputLock::Release() {
  if (fd_ < 0) return;
  struct stat st {};
  if (created_ && ::fstat(fd_, &st) == 0 && st.st_size == 0) {
    struct stat named {};
    if (::stat(path_.c_str(), &named) == 0 && named.st_ino == st.st_ino &&
        named.st_dev == st.st_dev)
      ::unlink(path_.c_str());
  }
  ::close(fd_);
  fd_ = -1;
  created_ = false;
  path_.clear();
}

bool OutputLock::IsHeld(const std::wstring& dataFile) {
  const int fd = ::open(PathToNative(dataFile).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  ::close(fd);  // drops the lock this test may have taken
  return held;
}

}  // namespace kvhttp::detail
