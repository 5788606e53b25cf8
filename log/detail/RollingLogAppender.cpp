#include "log/detail/RollingLogAppender.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/Folders.h"

namespace kvlog_detail {

RollingLogAppender::RollingLogAppender(const std::string& name, const std::string& folder,
                                       const std::string& fileName, std::size_t maxFileSize,
                                       mode_t mode)
    : log4cpp::LayoutAppender(name),
      folder_(folder),
      fileName_(fileName),
      maxFileSize_(maxFileSize),
      mode_(mode) {
  OpenFile();
}

RollingLogAppender::~RollingLogAppender() {
  close();
}

void RollingLogAppender::OpenFile() {
  if (folderFd_ < 0) folderFd_ = platform::OpenFolderTree(folder_);
  if (folderFd_ < 0 || fd_ >= 0) return;
  // A link at the file's name is not ours to write through: the entries are dropped instead.
  fd_ = ::openat(folderFd_, fileName_.c_str(),
                 O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, mode_);
}

bool RollingLogAppender::reopen() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  OpenFile();
  return fd_ >= 0;
}

void RollingLogAppender::close() {
  if (fd_ >= 0) ::close(fd_);
  if (folderFd_ >= 0) ::close(folderFd_);
  fd_ = -1;
  folderFd_ = -1;
}

void RollingLogAppender::_append(const log4cpp::LoggingEvent& event) {
  if (fd_ < 0) return;
  const std::string entry = _getLayout().format(event);
  for (std::size_t done = 0; done < entry.size();) {
    ssize_t n = ::write(fd_, entry.data() + done, entry.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
  off_t size = ::lseek(fd_, 0, SEEK_END);
  if (size >= 0 && static_cast<std::size_t>(size) >= maxFileSize_) RollOver();
}

void RollingLogAppender::RollOver() {
  ::close(fd_);
  fd_ = -1;
  // Within the folder we opened: rename replaces whatever has the backup's name, a link too,
  // without following it.
  const std::string backup = fileName_ + ".1";
  ::renameat(folderFd_, fileName_.c_str(), folderFd_, backup.c_str());
  OpenFile();
}

}  // namespace kvlog_detail
