#include "platform/Process.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <thread>

#include "platform/Paths.h"
#include "platform/detail/Spawn.h"

namespace platform {
namespace {

std::optional<std::uint32_t> ParsePid(const char* text) {
  if (*text == 0) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  unsigned long v = std::strtoul(text, &end, 10);
  if (errno != 0 || *end != 0 || v == 0 || v > static_cast<unsigned long>(INT_MAX)) {
    return std::nullopt;
  }
  return static_cast<std::uint32_t>(v);
}

std::vector<std::string> ArgvOf(const std::string& argv0, const std::vector<std::string>& args) {
  std::vector<std::string> argv{argv0};
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

}  // namespace

bool ForEachProcess(
    const std::function<bool(std::uint32_t pid, const std::string& exeName)>& visit) {
  DIR* dir = ::opendir("/proc");
  if (dir == nullptr) return false;
  while (dirent* e = ::readdir(dir)) {
    std::optional<std::uint32_t> pid = ParsePid(e->d_name);
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

pid_t StartProcess(const std::string& program, const std::vector<std::string>& args, RunAs runAs,
                   StartResult* result) {
  StartResult ignored;
  StartResult& outcome = result != nullptr ? *result : ignored;
  outcome = StartResult::Failed;
  if (program.empty()) return -1;
  detail::SpawnPlan plan;
  plan.path = program;
  plan.argv = ArgvOf(program, args);
  std::optional<UserIdentity> user;
  if (runAs == RunAs::InteractiveUser && IsElevated()) {
    user = InteractiveUser();
    if (!user) {
      outcome = StartResult::NoInteractiveUser;
      return -1;
    }
    plan.dropTo = &*user;
  }
  pid_t pid = detail::Spawn(plan);
  if (pid > 0) outcome = StartResult::Started;
  return pid;
}

pid_t StartProcessFromFile(int fd, const std::string& argv0, const std::vector<std::string>& args) {
  if (fd < 0) return -1;
  detail::SpawnPlan plan;
  plan.execFd = fd;
  plan.argv = ArgvOf(argv0, args);
  return detail::Spawn(plan);
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

StartResult StartDetached(const std::string& program, const std::vector<std::string>& args,
                          RunAs runAs) {
  StartResult result = StartResult::Failed;
  pid_t pid = StartProcess(program, args, runAs, &result);
  if (pid < 0) return result;
  try {
    std::thread([pid] { WaitProcess(pid); }).detach();
  } catch (...) {
    // Without a thread the child is reaped by init once we end.
  }
  return StartResult::Started;
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

StartResult OpenWithDefaultHandler(const std::string& target) {
  if (target.empty()) return StartResult::Failed;
  // The desktop's own opener first, else GLib's, which asks the same default handlers.
  if (std::string xdg = FindOnPath("xdg-open"); !xdg.empty()) {
    return StartDetached(xdg, {target}, RunAs::InteractiveUser);
  }
  if (std::string gio = FindOnPath("gio"); !gio.empty()) {
    return StartDetached(gio, {"open", target}, RunAs::InteractiveUser);
  }
  return StartResult::Failed;
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
