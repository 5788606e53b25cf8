#include "platform/detail/Spawn.h"

#include <fcntl.h>
#include <grp.h>
#include <linux/close_range.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

extern char** environ;

namespace platform::detail {
namespace {

std::vector<char*> CPointers(std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (auto& s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

// Our environment with the user's own HOME, USER and LOGNAME, the user's session (runtime
// folder and bus) instead of ours, and no trace of the elevation.
std::vector<std::string> EnvironmentFor(const UserIdentity& user) {
  static const char* const kReplaced[] = {
      "HOME=",      "USER=",     "LOGNAME=",  "XDG_RUNTIME_DIR=", "DBUS_SESSION_BUS_ADDRESS=",
      "SUDO_USER=", "SUDO_UID=", "SUDO_GID=", "SUDO_COMMAND=",    "PKEXEC_UID="};
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

std::vector<gid_t> GroupsOf(const UserIdentity& user) {
  if (user.name.empty()) return {user.gid};
  std::vector<gid_t> groups(64);
  int n = static_cast<int>(groups.size());
  if (::getgrouplist(user.name.c_str(), user.gid, groups.data(), &n) < 0) {
    groups.resize(static_cast<std::size_t>(n));
    if (::getgrouplist(user.name.c_str(), user.gid, groups.data(), &n) < 0) return {user.gid};
  }
  groups.resize(static_cast<std::size_t>(n));
  return groups;
}

// Everything above 2 closes at exec. The error pipe stays usable until then.
void MarkDescriptorsCloseOnExec(int highest) {
  if (::syscall(SYS_close_range, 3u, ~0u, CLOSE_RANGE_CLOEXEC) == 0) return;
  for (int fd = 3; fd <= highest; ++fd) {
    int flags = ::fcntl(fd, F_GETFD);
    if (flags >= 0) ::fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
  }
}

// Between fork and exec only async-signal-safe calls: everything is prepared beforehand.
[[noreturn]] void RunChild(int errorPipe, int execFd, const char* path, char** argv, char** envp,
                           const UserIdentity* dropTo, const std::vector<gid_t>& groups,
                           const char* folder, int highestFd) {
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  for (int sig = 1; sig < NSIG; ++sig) ::sigaction(sig, &dfl, nullptr);

  bool ok = true;
  if (dropTo != nullptr) {
    int null = ::open("/dev/null", O_RDWR);
    ok = null >= 0 && ::setsid() >= 0 && ::dup2(null, 0) == 0 && ::dup2(null, 1) == 1 &&
         ::dup2(null, 2) == 2;
    if (null > 2) ::close(null);
    // Groups first, then the group, then the user: after setuid nothing else may be changed.
    // Getting root back must then be impossible.
    ok = ok && ::setgroups(groups.size(), groups.data()) == 0 && ::setgid(dropTo->gid) == 0 &&
         ::setuid(dropTo->uid) == 0 && ::setuid(0) != 0;
    if (ok && ::chdir(folder) != 0) ok = ::chdir("/") == 0;
  }
  if (ok) {
    MarkDescriptorsCloseOnExec(highestFd);
    if (execFd >= 0) {
      ::fexecve(execFd, argv, envp);
    } else {
      ::execve(path, argv, envp);
    }
  }
  int err = errno != 0 ? errno : EPERM;
  (void)!::write(errorPipe, &err, sizeof err);
  ::_exit(127);
}

pid_t ForkAndExec(const SpawnPlan& plan, std::vector<char*>& argv, std::vector<char*>& envp,
                  const std::vector<gid_t>& groups, const std::string& folder, int highest) {
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return -1;
  pid_t pid = ::fork();
  if (pid < 0) {
    int err = errno;
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    errno = err;
    return -1;
  }
  if (pid == 0) {
    ::close(pipeFds[0]);
    RunChild(pipeFds[1], plan.execFd, plan.path.c_str(), argv.data(),
             plan.dropTo != nullptr ? envp.data() : environ, plan.dropTo, groups, folder.c_str(),
             highest);
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
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    errno = err;
    return -1;
  }
  return pid;
}

}  // namespace

pid_t Spawn(const SpawnPlan& plan) {
  if ((plan.execFd < 0 && plan.path.empty()) || plan.argv.empty()) {
    errno = EINVAL;
    return -1;
  }
  std::vector<std::string> argvStrings = plan.argv;
  std::vector<char*> argv = CPointers(argvStrings);
  std::vector<std::string> envStrings;
  std::vector<char*> envp;
  std::vector<gid_t> groups;
  std::string folder = "/";
  if (plan.dropTo != nullptr) {
    envStrings = EnvironmentFor(*plan.dropTo);
    envp = CPointers(envStrings);
    groups = GroupsOf(*plan.dropTo);
    if (!plan.dropTo->home.empty()) folder = plan.dropTo->home;
  }
  rlimit lim{};
  int highest = ::getrlimit(RLIMIT_NOFILE, &lim) == 0 && lim.rlim_cur != RLIM_INFINITY
                    ? static_cast<int>(lim.rlim_cur > 65536 ? 65536 : lim.rlim_cur)
                    : 65536;

  // A file just written is briefly "busy" while a child that another thread forked still holds
  // a writable copy of its descriptor (until that child's exec closes it): try again a while.
  for (int attempt = 0;; ++attempt) {
    const pid_t pid = ForkAndExec(plan, argv, envp, groups, folder, highest);
    if (pid > 0 || errno != ETXTBSY || attempt == 40) return pid;
    ::usleep(25 * 1000);
  }
}

}  // namespace platform::detail
