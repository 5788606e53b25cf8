// Processes: walking the running ones, ending one, starting programs as ourselves or as the
// interactive user, and opening documents with the desktop's handler. Any thread; no state.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/Elevation.h"

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
  InteractiveUser,  // InteractiveUser() (platform/Elevation.h): privileges dropped when elevated
};

// How a start went. NoInteractiveUser: we are elevated and no user other than root could be
// named to run the program as, so nothing was started (never root in the user's place).
enum class StartResult { Started, NoInteractiveUser, Failed };

// Starts `program` with argv[0] = program and `args` after it, our environment and folder.
// The child has only descriptors 0-2 of ours (as the interactive user of an elevated process:
// 0-2 on /dev/null, in a session of its own, in the user's home folder, with the user's
// HOME/USER/LOGNAME and session variables). Returns the child's pid, or -1 when it was not
// started (exec failure included); `result` (optional) says why.
pid_t StartProcess(const std::string& program, const std::vector<std::string>& args,
                   RunAs runAs = RunAs::Self, StartResult* result = nullptr);

// Starts an executable that is already open and checked (no path is looked up again, so the
// file cannot be swapped in between), as ourselves, with argv[0] = argv0 and `args` after it
// and only descriptors 0-2 inherited. `fd` may be close-on-exec and stays open in the caller.
// Only a binary executable starts this way: a "#!" script would need its file again by name.
// The child's pid, or -1.
pid_t StartProcessFromFile(int fd, const std::string& argv0, const std::vector<std::string>& args);

// Waits for a child started here; its exit code, 128 + the signal number when a signal ended
// it, -1 on error.
int WaitProcess(pid_t pid);

// Starts the program and forgets it: a background thread reaps it so no zombie is left.
StartResult StartDetached(const std::string& program, const std::vector<std::string>& args,
                          RunAs runAs = RunAs::Self);

// Opens a path or URL with the desktop's default handler (xdg-open, else "gio open"), as the
// interactive user. Failed when no handler is found or it cannot start.
StartResult OpenWithDefaultHandler(const std::string& target);

// Splits a command line the way the C runtime of the other platform does: blanks separate,
// double quotes group, 2n backslashes before a quote give n and toggle quoting, 2n+1 give n and
// a literal quote.
std::vector<std::string> SplitCommandLine(const std::string& commandLine);

}  // namespace platform
