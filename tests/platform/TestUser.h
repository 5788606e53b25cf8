// A throw-away unprivileged user for tests that run as root, and the means to run programs as
// that user. Everything here needs root; tests call KV_SKIP_UNLESS_ROOT first.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"

#define KV_SKIP_UNLESS_ROOT()                                                                   \
  do {                                                                                          \
    if (::geteuid() != 0) GTEST_SKIP() << "needs root (to act as a second, unprivileged user)"; \
  } while (0)

namespace platformtest {

// Made with useradd (own group, no home folder, no login shell) and removed with userdel.
class TestUser {
 public:
  TestUser() {
    static std::atomic<int> counter{0};
    name_ = "kvt" + std::to_string(::getpid()) + "x" + std::to_string(counter++);
    if (Run("useradd -M -U -d /nonexistent -s /usr/sbin/nologin " + name_) != 0) return;
    made_ = true;
    std::string ids = Capture("id -u " + name_ + "; id -g " + name_);
    unsigned long uid = 0, gid = 0;
    if (std::sscanf(ids.c_str(), "%lu %lu", &uid, &gid) != 2) return;
    uid_ = static_cast<uid_t>(uid);
    gid_ = static_cast<gid_t>(gid);
    ok_ = uid_ != 0;
  }
  ~TestUser() {
    if (made_) Run("userdel " + name_ + " >/dev/null 2>&1");
  }
  TestUser(const TestUser&) = delete;
  TestUser& operator=(const TestUser&) = delete;

  bool ok() const { return ok_; }
  uid_t uid() const { return uid_; }
  gid_t gid() const { return gid_; }
  const std::string& name() const { return name_; }

  // The command line that runs `argv` as this user, with a clean environment plus `env`
  // ("NAME=value" entries).
  std::vector<std::string> As(const std::vector<std::string>& argv,
                              const std::vector<std::string>& env = {}) const {
    std::vector<std::string> out{"/usr/bin/env", "-i", "PATH=/usr/bin:/bin", "HOME=/nonexistent"};
    out.insert(out.end(), env.begin(), env.end());
    for (const char* a : {"/usr/bin/setpriv", "--clear-groups", "--inh-caps=-all"})
      out.push_back(a);
    out.push_back("--reuid=" + std::to_string(uid_));
    out.push_back("--regid=" + std::to_string(gid_));
    out.push_back("--");
    out.insert(out.end(), argv.begin(), argv.end());
    return out;
  }

  static int Run(const std::string& cmd) { return std::system(cmd.c_str()); }
  static std::string Capture(const std::string& cmd) {
    kvtest::TempDir dir;
    std::string out = (dir / "out").string();
    if (Run("(" + cmd + ") > " + out + " 2>/dev/null") != 0) return {};
    return kvtest::ReadFile(out);
  }

 private:
  std::string name_;
  uid_t uid_ = 0;
  gid_t gid_ = 0;
  bool made_ = false;
  bool ok_ = false;
};

// A folder anyone may enter and read (0755), for programs and files the test user needs.
inline void OpenToEveryone(const std::filesystem::path& dir) {
  ::chmod(dir.c_str(), 0755);
}

// Copies an executable into `dir` (made reachable) and returns the copy's path.
inline std::string ReachableCopy(const std::filesystem::path& dir, const std::string& exe) {
  namespace fs = std::filesystem;
  OpenToEveryone(dir);
  fs::path copy = dir / fs::path(exe).filename();
  if (!fs::exists(copy)) fs::copy_file(exe, copy);
  ::chmod(copy.c_str(), 0755);
  return copy.string();
}

// A root-owned 0755 folder below /run (whose parents a root process may trust, unlike /tmp),
// removed with its content afterwards.
class RootOwnedDir {
 public:
  RootOwnedDir() {
    char tmpl[] = "/run/kvtest.XXXXXX";
    if (::mkdtemp(tmpl) != nullptr) {
      path_ = tmpl;
      ::chmod(tmpl, 0755);
    }
  }
  ~RootOwnedDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  RootOwnedDir(const RootOwnedDir&) = delete;
  RootOwnedDir& operator=(const RootOwnedDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

}  // namespace platformtest
