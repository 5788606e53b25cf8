// Processes: walking the running ones, ending one, starting programs as ourselves or as the
// interactive user, and opening documents with the desktop's handler. Any thread; no state.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// Calls visit(pid, exeName) for every process in /proc order until it returns false. exeName
// is the last component of /proc/PID/exe (the full name, unlike the 15-byte "comm"); processes
// whose executable cannot be read (kernel threads, other users' without privilege) are skipped.
// False when /proc cannot be read.
bool ForEachProcess(
    const std::function<bool(std::uint32_t pid, const std::string& exeName)>& visit);

// Ends the process at once (SIGKILL). False for pid 0 (which would mean our own process group),
// ids out of range, and processes that are gone or may not be signalled.
bool KillProcess(std::uint32_t pid);

// Who a started program runs as.
enum class RunAs {
  Self,             // our own user and privileges
  InteractiveUser,  // the user behind sudo/pkexec when elevated, privileges dropped; else Self
};

struct UserIdentity {
  uid_t uid;
  gid_t gid;
  std::string name;  // may be empty when the user database does not know the id
  std::string home;
};

// The user who elevated us: SUDO_UID/SUDO_GID or PKEXEC_UID, only while the effective uid is 0.
std::optional<UserIdentity> ElevatingUser();

// Starts `program` with argv[0] = program and `args` after it, our environment and folder.
// Returns the child's pid, or -1 when it could not be started (exec failure included).
pid_t StartProcess(const std::string& program, const std::vector<std::string>& args,
                   RunAs runAs = RunAs::Self);

// Waits for a child started by StartProcess; its exit code, 128 + the signal number when a signal
// ended it, -1 on error.
int WaitProcess(pid_t pid);

// Starts the program and forgets it: a background thread reaps it so no zombie is left.
bool StartDetached(const std::string& program, const std::vector<std::string>& args,
                   RunAs runAs = RunAs::Self);

// Opens a path or URL with the desktop's default handler (xdg-open, else "gio open"), as the
// interactive user when elevated. True when the handler was started.
bool OpenWithDefaultHandler(const std::string& target);

// Splits a command line the way the C runtime of the other platform does: blanks separate,
// double quotes group, 2n backslashes before a quote give n and toggle quoting, 2n+1 give n and
// a literal quote.
std::vector<std::string> SplitCommandLine(const std::string& commandLine);

}  // namespace platform
