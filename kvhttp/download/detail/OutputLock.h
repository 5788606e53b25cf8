// An exclusive lock on a download's data file (and, by agreement, on its resume record), held
// for a whole run so that two runs on one output never write the same files. An flock on the
// data file itself: it ends with the process, whatever way the process ends.
//
// One owner thread.
#pragma once

#include <boost/system/error_code.hpp>
#include <string>

namespace kvhttp::detail {

class OutputLock {
 public:
  OutputLock() = default;
  ~OutputLock();
  OutputLock(const OutputLock&) = delete;
  OutputLock& operator=(const OutputLock&) = delete;

  // Opens (creating when missing) and locks `dataFile`. errc::output_locked when another run
  // holds it; a system error when it cannot be opened.
  bool Acquire(const std::wstring& dataFile, boost::system::error_code& ec);
  // Unlocks; when the lock created the file and nothing was written to it, removes it again.
  void Release();
  bool held() const { return fd_ >= 0; }

  // True when some run holds the lock on `dataFile` right now (a missing file is not locked).
  static bool IsHeld(const std::wstring& dataFile);

 private:
  int fd_ = -1;
  std::string path_;
  bool created_ = false;
};

}  // namespace kvhttp::detail
