#include "kvhttp/download/PositionedFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <vector>

#include "kvhttp/download/detail/PathText.h"

namespace kvhttp {

namespace {

boost::system::error_code LastError() {
  return boost::system::error_code(errno, boost::system::system_category());
}

// At most IOV_MAX buffers go to one system call.
constexpr std::size_t kMaxBuffers = IOV_MAX;

// -1 as the offset means the current position; anything else below 0 is refused.
bool ResolveOffset(int fd, std::int64_t position, std::int64_t& offset,
                   boost::system::error_code& ec) {
  ec.clear();
  if (fd < 0) {
    ec = boost::system::error_code(EBADF, boost::system::system_category());
    return false;
  }
  if (offset == -1) offset = position;
  if (offset < 0) {
    ec = boost::system::error_code(EINVAL, boost::system::system_category());
    return false;
  }
  return true;
}

enum class Direction { kRead, kWrite };

// pwritev and preadv may move less than asked (signals, large requests): carry on until every
// buffer is done; a read also stops at the end of the file. Returns the bytes moved, -1 on error.
std::int64_t TransferAll(int fd, std::vector<iovec>& iov, std::int64_t offset, Direction direction,
                         boost::system::error_code& ec) {
  std::int64_t done = 0;
  std::size_t first = 0;
  while (first < iov.size()) {
    int n = static_cast<int>(std::min(iov.size() - first, kMaxBuffers));
    ssize_t r = direction == Direction::kWrite ? ::pwritev(fd, iov.data() + first, n, offset + done)
                                               : ::preadv(fd, iov.data() + first, n, offset + done);
    if (r < 0) {
      if (errno == EINTR) continue;
      ec = LastError();
      return -1;
    }
    if (r == 0 && direction == Direction::kRead) break;  // end of file
    done += r;
    auto left = static_cast<std::size_t>(r);
    while (first < iov.size() && left >= iov[first].iov_len) left -= iov[first++].iov_len;
    if (left > 0) {
      iov[first].iov_base = static_cast<char*>(iov[first].iov_base) + left;
      iov[first].iov_len -= left;
    }
  }
  return done;
}

}  // namespace

PositionedFile::PositionedFile() = default;

PositionedFile::~PositionedFile() {
  close();
}

std::size_t PositionedFile::page_size() {
  static const std::size_t size = [] {
    long p = ::sysconf(_SC_PAGESIZE);
    return p < 1 ? std::size_t{4096} : static_cast<std::size_t>(p);
  }();
  return size;
}

bool PositionedFile::open(const std::wstring& path, int mode, boost::system::error_code& ec) {
  close();
  ec.clear();
  int flags = O_CLOEXEC;
  switch (mode & 3) {
    case kReadOnly:
      flags |= O_RDONLY;
      break;
    case kWriteOnly:
      flags |= O_WRONLY | O_CREAT;
      break;
    case kReadWrite:
      flags |= O_RDWR | O_CREAT;
      break;
    default:
      ec = boost::system::error_code(EINVAL, boost::system::system_category());
      return false;
  }
  if (mode & kWriteThrough) flags |= O_DSYNC;
  const std::string native = detail::PathToNative(path);
  int fd = ::open(native.c_str(), flags, 0644);
  if (fd < 0) {
    ec = LastError();
    return false;
  }
  // The engine reads and writes all over the file.
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM);
  fd_ = fd;
  path_ = path;
  mode_ = mode;
  position_ = 0;
  return true;
}

void PositionedFile::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  path_.clear();
  position_ = 0;
}

std::int64_t PositionedFile::write_at(std::int64_t offset, const ConstFileBuffer* buffers,
                                      std::size_t count, boost::system::error_code& ec) {
  const bool atCurrent = offset == -1;
  if (!ResolveOffset(fd_, position_, offset, ec)) return -1;
  std::vector<iovec> iov;
  iov.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    if (buffers[i].size == 0) continue;
    iov.push_back({const_cast<void*>(buffers[i].data), buffers[i].size});
  }
  std::int64_t done = TransferAll(fd_, iov, offset, Direction::kWrite, ec);
  if (done >= 0 && atCurrent) position_ = offset + done;
  return done;
}

std::int64_t PositionedFile::read_at(std::int64_t offset, const FileBuffer* buffers,
                                     std::size_t count, boost::system::error_code& ec) {
  const bool atCurrent = offset == -1;
  if (!ResolveOffset(fd_, position_, offset, ec)) return -1;
  std::vector<iovec> iov;
  iov.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    if (buffers[i].size == 0) continue;
    iov.push_back({buffers[i].data, buffers[i].size});
  }
  std::int64_t done = TransferAll(fd_, iov, offset, Direction::kRead, ec);
  if (done >= 0 && atCurrent) position_ = offset + done;
  return done;
}

std::int64_t PositionedFile::tell(boost::system::error_code& ec) const {
  ec.clear();
  if (fd_ < 0) {
    ec = boost::system::error_code(EBADF, boost::system::system_category());
    return -1;
  }
  return position_;
}

bool PositionedFile::seek(std::int64_t position, boost::system::error_code& ec) {
  ec.clear();
  if (fd_ < 0 || position < 0) {
    ec = boost::system::error_code(fd_ < 0 ? EBADF : EINVAL, boost::system::system_category());
    return false;
  }
  position_ = position;
  return true;
}

std::int64_t PositionedFile::size(boost::system::error_code& ec) const {
  ec.clear();
  struct stat st {};
  if (fd_ < 0 || ::fstat(fd_, &st) != 0) {
    ec = fd_ < 0 ? boost::system::error_code(EBADF, boost::system::system_category()) : LastError();
    return -1;
  }
  return static_cast<std::int64_t>(st.st_size);
}

bool PositionedFile::truncate(std::int64_t length, boost::system::error_code& ec) {
  ec.clear();
  if (fd_ < 0 || length < 0) {
    ec = boost::system::error_code(fd_ < 0 ? EBADF : EINVAL, boost::system::system_category());
    return false;
  }
  if (::ftruncate(fd_, length) != 0) {
    ec = LastError();
    return false;
  }
  return true;
}

void PositionedFile::start_writeback(std::int64_t offset, std::int64_t length) {
  if (fd_ >= 0 && offset >= 0 && length > 0)
    ::sync_file_range(fd_, offset, length, SYNC_FILE_RANGE_WRITE);
}

bool PositionedFile::sync_data(boost::system::error_code& ec) {
  ec.clear();
  if (fd_ < 0) {
    ec = boost::system::error_code(EBADF, boost::system::system_category());
    return false;
  }
  while (::fdatasync(fd_) != 0) {
    if (errno == EINTR) continue;
    ec = LastError();
    return false;
  }
  return true;
}

}  // namespace kvhttp
