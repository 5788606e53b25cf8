// The single-instance primitive: a named lock held for the life of the process.
#pragma once

#include <string>

namespace platform {

enum class NamedLockResult { Created, AlreadyExists, Error };

class NamedLock {
 public:
  NamedLock() = default;
  ~NamedLock();
  NamedLock(const NamedLock&) = delete;
  NamedLock& operator=(const NamedLock&) = delete;
  // Takes the lock called `name` (any text); AlreadyExists when another process holds it.
  NamedLockResult Acquire(const std::wstring& name);
  // Folder beside the lock file where the holder may keep its presentation socket.
  std::string LockPath() const { return path_; }

 private:
  int fd_ = -1;
  std::string path_;
};

}  // namespace platform
