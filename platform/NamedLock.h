// The single-instance primitive: a named lock held for the life of the process.
#pragma once

#include <string>

namespace platform {

// Created: we hold the lock. AlreadyExists: another instance of ours (same user) holds it.
// Error: the lock could not be taken for any other reason (ErrorText says why); the caller
// should start anyway rather than refuse to run for ever.
enum class NamedLockResult { Created, AlreadyExists, Error };

class NamedLock {
 public:
  NamedLock() = default;
  ~NamedLock();  // releases the lock and, when we held it, removes the lock file
  NamedLock(const NamedLock&) = delete;
  NamedLock& operator=(const NamedLock&) = delete;

  // Takes the lock called `name` (any text). The lock file is "kvdownloader-" + the escaped
  // name + ".lock" in a folder only we can write: as root /run/kvdownloader (root's, 0700); as a
  // user $XDG_RUNTIME_DIR when it is an absolute path to a folder of ours that nobody else may
  // write, else /tmp/kvdownloader-UID (ours, 0700), else ~/.cache/kvdownloader (ours, 0700).
  // A folder or lock file that is not ours is never used. The lock is held until this object
  // is destroyed (normally: the process ends). Any thread; call once per object.
  NamedLockResult Acquire(const std::wstring& name);
  // The lock file's path (set by Acquire unless no folder could be found); the holder's
  // presentation socket (platform/InstanceChannel.h) lives beside it.
  std::string LockPath() const { return path_; }
  // Why Acquire returned Error ("" otherwise), for the log.
  const std::string& ErrorText() const { return error_; }
  // The lock file a lock called `name` uses; "" when no usable folder exists. Makes the folder
  // when it is missing.
  static std::string PathFor(const std::wstring& name);

 private:
  int fd_ = -1;
  bool held_ = false;
  std::string path_;
  std::string error_;
};

}  // namespace platform
