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
  // The lock file is $XDG_RUNTIME_DIR (else /tmp) + "/kvdownloader-" + the escaped name +
  // ".lock"; the lock is held until this object is destroyed (normally: the process ends).
  // Any thread; call once per object.
  NamedLockResult Acquire(const std::wstring& name);
  // The lock file's path (set by Acquire whatever its result); the holder's presentation
  // socket (platform/InstanceChannel.h) lives beside it.
  std::string LockPath() const { return path_; }
  // The lock file a lock called `name` uses.
  static std::string PathFor(const std::wstring& name);

 private:
  int fd_ = -1;
  std::string path_;
};

}  // namespace platform
