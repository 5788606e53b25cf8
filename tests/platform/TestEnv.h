// Helpers for tests that start real programs: a scoped environment variable and a shell script.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>

#include "tests/support/TestSupport.h"

namespace platformtest {

// Sets or clears an environment variable for one test and puts it back afterwards.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = ::getenv(name)) old_ = old, had_ = true;
    value ? ::setenv(name, value, 1) : ::unsetenv(name);
  }
  ~ScopedEnv() { had_ ? ::setenv(name_, old_.c_str(), 1) : ::unsetenv(name_); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::string old_;
  bool had_ = false;
};

// An executable /bin/sh script that anyone may run (a child dropped to another user too).
inline void WriteScript(const std::filesystem::path& p, const std::string& body) {
  namespace fs = std::filesystem;
  kvtest::WriteFile(p, "#!/bin/sh\n" + body + "\n");
  fs::permissions(p, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                         fs::perms::others_read | fs::perms::others_exec);
}

}  // namespace platformtest
