#include "platform/Process.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <thread>

#include "platform/Paths.h"

extern char** environ;

namespace platform {
namespace {

std::optional<uid_t> ParseId(const std::string& text) {
  if (text.empty()) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  unsigned long v = std::strtoul(text.c_str(), &end, 10);
  if (errno != 0 || *end != 0 || v == 0 || v > UINT_MAX - 1) return std::nullopt;
  return static_cast<uid_t>(v);
}

std::vector<char*> CPointers(std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (auto& s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

// Our environment with the user's own HOME, USER and LOGNAME, and the user's session (runtime
// folder and bus) instead of ours, so desktop programs talk to the user's desktop.
std::vector<std::string> EnvironmentFor(const UserIdentity& user) {
  static const char* const kReplaced[] = {
      "HOME=", "USER=", "LOGNAME=", "XDG_RUNTIME_DIR=", "DBUS_SESSION_BUS_ADDRESS="};
  std::vector<std::string> env;
  for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
    std::string v(*e);
    bool replaced = false;
    for (const char* prefix : kReplaced) replaced = replaced || v.rfind(prefix, 0) == 0;
    if (!replaced) env.push_back(v);
  }
  if (!user.home.empty()) env.push_back("HOME=" + user.home);
  if (!user.name.empty()) {
    env.push_back("USER=" + user.name);
    env.push_back("LOGNAME=" + user.name);
  }
  const std::string runtime = "/run/user/" + std::to_string(user.uid);
  if (::access(runtime.c_str(), F_OK) == 0) {
    env.push_back("XDG_RUNTIME_DIR=" + runtime);
    if (::access((runtime + "/bus").c_str(), F_OK) == 0) {
      env.push_back("DBUS_SESSION_BUS_ADDRESS=unix:path=" + runtime + "/bus");
    }
  }
  return env;
}

// fork + exec with the privileges dropped in the child. Everything the child needs is made
// before the fork: between fork and exec only async-signal-safe calls are allowed.
pid_t StartAsUser(const std::string& program, std::vector<std::string>& argv,
                  const UserIdentity& user) {
  std::vector<gid_t> groups(64);
  int ngroups = static_cast<int>(groups.size());
  if (!user.name.empty()) {
    if (::getgrouplist(user.name.c_str(), user.gid, groups.data(), &ngroups) < 0) {
      groups.resize(static_cast<std::size_t>(ngroups));
      if (::getgrouplist(user.name.c_str(), user.gid, groups.data(), &ngroups) < 0) ngroups = 0;
    }
  } else {
    groups[0] = user.gid;
    ngroups = 1;
  }
  std::vector<std::string> envStrings = EnvironmentFor(user);
  std::vector<char*> envp = CPointers(envStrings);
  std::vector<char*> args = CPointers(argv);

  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return -1;
  pid_t pid = ::fork();
  if (pid < 0) {
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    return -1;
  }
  if (pid == 0) {
    ::close(pipeFds[0]);
    // Groups first, then the group, then the user: after setuid nothing else may be changed.
    if (::setgroups(static_cast<std::size_t>(ngroups), groups.data()) == 0 &&
        ::setgid(user.gid) == 0 && ::setuid(user.uid) == 0 && ::setuid(0) != 0) {
      ::execve(program.c_str(), args.data(), envp.data());
    }
    int err = errno;
    (void)!::write(pipeFds[1], &err, sizeof err);
    ::_exit(127);
  }
  ::close(pipeFds[1]);
  // The pipe closes on a successful exec; an error number arrives otherwise.
  int err = 0;
  ssize_t n;
  do {
    n = ::read(pipeFds[0], &err, sizeof err);
  } while (n < 0 && errno == EINTR);
  ::close(pipeFds[0]);
  if (n > 0) {
    ::waitpid(pid, nullptr, 0);
    return -1;
  }
  return pid;
}

}  // namespace

bool ForEachProcess(
    const std::function<bool(std::uint32_t pid, const std::string& exeName)>& visit) {
  DIR* dir = ::opendir("/proc");
  if (dir == nullptr) return false;
  while (dirent* e = ::readdir(dir)) {
    std::optional<uid_t> pid = ParseId(e->d_name);
    if (!pid) continue;
    std::string link = "/proc/" + std::string(e->d_name) + "/exe";
    char target[PATH_MAX];
    ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
    if (n <= 0) continue;
    std::string path(target, static_cast<std::size_t>(n));
    // A replaced or removed executable reads "path (deleted)"; its name is still the path's.
    const std::string deleted = " (deleted)";
    if (path.size() > deleted.size() &&
        path.compare(path.size() - deleted.size(), deleted.size(), deleted) == 0) {
      path.erase(path.size() - deleted.size());
    }
    if (!visit(*pid, FileNameOf(path))) break;
  }
  ::closedir(dir);
  return true;
}

bool KillProcess(std::uint32_t pid) {
  if (pid == 0 || pid > static_cast<std::uint32_t>(INT_MAX)) return false;
  return ::kill(static_cast<pid_t>(pid), SIGKILL) == 0;
}

std::optional<UserIdentity> ElevatingUser() {
  if (::geteuid() != 0) return std::nullopt;
  std::optional<uid_t> uid = ParseId(EnvOrEmpty("SUDO_UID"));
  if (!uid) uid = ParseId(EnvOrEmpty("PKEXEC_UID"));
  if (!uid) return std::nullopt;
  UserIdentity user{*uid, static_cast<gid_t>(*uid), {}, {}};
  struct passwd pw {};
  struct passwd* found = nullptr;
  std::vector<char> buf(16384);
  if (::getpwuid_r(*uid, &pw, buf.data(), buf.size(), &found) == 0 && found != nullptr) {
    user.gid = found->pw_gid;
    user.name = found->pw_name != nullptr ? found->pw_name : "";
    user.home = found->pw_dir != nullptr ? found->pw_dir : "";
  }
  if (std::optional<uid_t> gid = ParseId(EnvOrEmpty("SUDO_GID"));
      gid && EnvOrEmpty("SUDO_UID") != "") {
    user.gid = static_cast<gid_t>(*gid);
  }
  return user;
}

pid_t StartProcess(const std::string& program, const std::vector<std::string>& args, RunAs runAs) {
  if (program.empty()) return -1;
  std::vector<std::string> argv{program};
  argv.insert(argv.end(), args.begin(), args.end());
  if (runAs == RunAs::InteractiveUser) {
    if (std::optional<UserIdentity> user = ElevatingUser()) {
      return StartAsUser(program, argv, *user);
    }
  }
  std::vector<char*> cargs = CPointers(argv);
  pid_t pid = -1;
  // posix_spawn reports a failed exec as its result (glibc uses a clone that waits for it).
  if (::posix_spawn(&pid, program.c_str(), nullptr, nullptr, cargs.data(), environ) != 0) {
    return -1;
  }
  return pid;
}

int WaitProcess(pid_t pid) {
  if (pid <= 0) return -1;
  int status = 0;
  for (;;) {
    pid_t r = ::waitpid(pid, &status, 0);
    if (r == pid) break;
    if (r < 0 && errno == EINTR) continue;
    return -1;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

bool StartDetached(const std::string& program, const std::vector<std::string>& args, RunAs runAs) {
  pid_t pid = StartProcess(program, args, runAs);
  if (pid < 0) return false;
  try {
    std::thread([pid] { WaitProcess(pid); }).detach();
  } catch (...) {
    // Without a thread the child is reaped by init once we end.
  }
  return true;
}

namespace {

// The first executable `name` on PATH, or "".
std::string FindOnPath(const std::string& name) {
  std::string path = EnvOrEmpty("PATH");
  if (path.empty()) path = "/usr/local/bin:/usr/bin:/bin";
  for (std::size_t start = 0; start <= path.size();) {
    std::size_t end = path.find(':', start);
    if (end == std::string::npos) end = path.size();
    std::string candidate = path.substr(start, end - start) + "/" + name;
    if (end > start && ::access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return {};
}

}  // namespace

bool OpenWithDefaultHandler(const std::string& target) {
  if (target.empty()) return false;
  // The desktop's own opener first, else GLib's, which asks the same default handlers.
  if (std::string xdg = FindOnPath("xdg-open"); !xdg.empty()) {
    return StartDetached(xdg, {target}, RunAs::InteractiveUser);
  }
  if (std::string gio = FindOnPath("gio"); !gio.empty()) {
    return StartDetached(gio, {"open", target}, RunAs::InteractiveUser);
  }
  return false;
}

std::vector<std::string> SplitCommandLine(const std::string& line) {
  std::vector<std::string> out;
  std::size_t i = 0;
  const std::size_t n = line.size();
  while (i < n) {
    while (i < n && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i >= n) break;
    std::string arg;
    bool quoted = false;
    while (i < n && (quoted || (line[i] != ' ' && line[i] != '\t'))) {
      if (line[i] == '\\') {
        std::size_t slashes = 0;
        while (i < n && line[i] == '\\') ++slashes, ++i;
        if (i < n && line[i] == '"') {
          arg.append(slashes / 2, '\\');
          if (slashes % 2 == 1) {
            arg += '"';
            ++i;
          }
        } else {
          arg.append(slashes, '\\');
        }
      } else if (line[i] == '"') {
        // Inside quotes, a doubled quote is a literal one.
        if (quoted && i + 1 < n && line[i + 1] == '"') {
          arg += '"';
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
      } else {
        arg += line[i++];
      }
    }
    out.push_back(arg);
  }
  return out;
}

}  // namespace platform
