// The downloaded installer from its check to its start: opened once, without following links,
// accepted only as a regular file of ours that nobody else can write and, when the brand signs
// its installers, only with the size and SHA-256 of the signed statement; then made executable
// and started from that same open file, so nothing can swap it in between.
//
// One thread at a time (the download thread checks it, the installer thread starts it).
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "integrity/PayloadCheck.h"

enum class InstallerCheck {
  kOk,
  kUnreadable,  // missing, a link, not a regular file, not ours or writable by others
  kMismatch,    // not the size or the SHA-256 the statement names
};

class CCheckedInstaller {
 public:
  CCheckedInstaller() = default;
  ~CCheckedInstaller();
  CCheckedInstaller(const CCheckedInstaller&) = delete;
  CCheckedInstaller& operator=(const CCheckedInstaller&) = delete;

  // Opens and checks the file at `path`; `expected` null: the brand signs nothing, only the file
  // itself is checked. Keeps the file open on kOk.
  InstallerCheck Open(const std::wstring& path, const integrity::ExpectedPayload* expected);
  bool IsOpen() const { return fd_ >= 0; }
  // Gives the complete installer its execute bits; only the owner may write it (0755).
  bool MakeExecutable();
  // Starts the open file with argv[0] = argv0 and `args`; the pid, or -1. Closes the file.
  pid_t Start(const std::string& argv0, const std::vector<std::string>& args);

 private:
  int fd_ = -1;
};
