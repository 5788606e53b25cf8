// The log file appender: log4cpp's rolling file appender opens its file by name, follows a
// symbolic link there and leaves the descriptor to every child we start. This one opens the
// file below a folder descriptor without following a link, close-on-exec, and rolls by renaming
// within that folder. Private to log/.
#pragma once

#include <sys/types.h>

#include <log4cpp/LayoutAppender.hh>
#include <string>

namespace kvlog_detail {

class RollingLogAppender : public log4cpp::LayoutAppender {
 public:
  // Opens folder/fileName for appending (the folder is made when missing). Entries are dropped
  // while the file cannot be opened. After an entry brings the file to maxFileSize bytes or
  // more, it becomes fileName + ".1" (replacing an older one) and a new file is started.
  RollingLogAppender(const std::string& name, const std::string& folder,
                     const std::string& fileName, std::size_t maxFileSize, mode_t mode);
  ~RollingLogAppender() override;

  bool reopen() override;
  void close() override;

 protected:
  // Called by log4cpp under the category's lock; our facility serialises calls as well.
  void _append(const log4cpp::LoggingEvent& event) override;

 private:
  void OpenFile();
  void RollOver();

  std::string folder_;
  std::string fileName_;
  std::size_t maxFileSize_;
  mode_t mode_;
  int folderFd_ = -1;
  int fd_ = -1;
};

}  // namespace kvlog_detail
