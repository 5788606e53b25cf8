#include "app/CheckedInstaller.h"

#include <fcntl.h>

#include "log/Log.h"
#include "platform/Folders.h"
#include "platform/Process.h"
#include "sys/SystemInfo.h"

CCheckedInstaller::~CCheckedInstaller() {
  platform::CloseFile(fd_);
}

InstallerCheck CCheckedInstaller::Open(const std::wstring& path,
                                       const integrity::ExpectedPayload* expected) {
  platform::CloseFile(fd_);
  fd_ = platform::OpenFileNoFollow(WideToLocale(path), O_RDONLY);
  if (fd_ < 0 || !platform::IsPrivateRegularFile(fd_)) {
    platform::CloseFile(fd_);
    fd_ = -1;
    return InstallerCheck::kUnreadable;
  }
  if (expected != nullptr) {
    const integrity::PayloadCheck check = integrity::CheckPayloadFile(fd_, *expected);
    if (check != integrity::PayloadCheck::kOk) {
      LOGA(LogLevelInfo, "installer check: %s", integrity::DescribePayloadCheck(check));
      platform::CloseFile(fd_);
      fd_ = -1;
      return check == integrity::PayloadCheck::kReadFailed ? InstallerCheck::kUnreadable
                                                           : InstallerCheck::kMismatch;
    }
  }
  return InstallerCheck::kOk;
}

bool CCheckedInstaller::MakeExecutable() {
  return platform::SetFileModeOf(fd_, 0755);
}

pid_t CCheckedInstaller::Start(const std::string& argv0, const std::vector<std::string>& args) {
  const pid_t pid = fd_ >= 0 ? platform::StartProcessFromFile(fd_, argv0, args) : -1;
  platform::CloseFile(fd_);
  fd_ = -1;
  return pid;
}
