#include "platform/Paths.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "platform/Elevation.h"
#include "platform/Folders.h"

namespace platform {
namespace {

std::string WithSlash(std::string folder) {
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

}  // namespace

std::string ExecutablePath() {
  std::vector<char> buf(4096);
  for (;;) {
    ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
    if (n < 0) return {};
    if (static_cast<std::size_t>(n) < buf.size()) return std::string(buf.data(), n);
    buf.resize(buf.size() * 2);
  }
}

std::string EnvOrEmpty(const char* name) {
  const char* v = std::getenv(name);
  return v != nullptr ? std::string(v) : std::string();
}

std::string HomeFolder() {
  std::string home = EnvOrEmpty("HOME");
  if (!home.empty()) return home;
  struct passwd pw {};
  struct passwd* found = nullptr;
  std::vector<char> buf(16384);
  if (::getpwuid_r(::geteuid(), &pw, buf.data(), buf.size(), &found) == 0 && found != nullptr &&
      found->pw_dir != nullptr) {
    return found->pw_dir;
  }
  return {};
}

std::string ProgramFilesFolder() {
  std::string over = TestHookValue("KV_PROGRAM_FILES");
  if (!over.empty()) return WithSlash(over);
  if (::geteuid() == 0) return "/opt/";
  std::string data = EnvOrEmpty("XDG_DATA_HOME");
  // Relative values are invalid for XDG variables and are ignored.
  if (!data.empty() && data.front() == '/') return WithSlash(data);
  std::string home = HomeFolder();
  if (home.empty()) return "/";
  return WithSlash(home) + ".local/share/";
}

bool CreateFolderTree(const std::string& path) {
  int fd = OpenFolderTree(path);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

std::string FileNameOf(const std::string& path) {
  std::size_t pos = path.find_last_of('/');
  return pos == std::string::npos ? path : path.substr(pos + 1);
}

}  // namespace platform
