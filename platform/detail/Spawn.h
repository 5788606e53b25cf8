// Starting a child by fork and exec with only descriptors 0-2 open, optionally as another user.
// Private to platform/.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "platform/Elevation.h"

namespace platform::detail {

struct SpawnPlan {
  std::string path;               // the executable, used when execFd < 0
  int execFd = -1;                // an open executable to start instead of `path`
  std::vector<std::string> argv;  // argv[0] included
  // Set: the child drops to this user before exec, in a session of its own, with 0-2 on
  // /dev/null (a terminal of ours must not be reachable from the user's process), in the user's
  // home folder and with the user's environment.
  const UserIdentity* dropTo = nullptr;
};

// Starts the plan; the child's pid, or -1 when fork or exec failed (errno then tells why).
// Every descriptor above 2 is closed in the child at exec; signal mask and dispositions are
// reset. Any thread.
pid_t Spawn(const SpawnPlan& plan);

}  // namespace platform::detail
