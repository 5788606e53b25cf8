// The login manager's view of who sits at the machine, asked over the system bus. Private to
// platform/.
#pragma once

#include <sys/types.h>

#include <optional>

namespace platform::detail {

// The uid of the active, local, graphical user session: the one on seat0 when there is one,
// else the only such session. nullopt when the bus or the login manager cannot be reached, or
// when several seats have one and none is seat0. Each call opens its own connection (the
// address comes from DBUS_SYSTEM_BUS_ADDRESS, else the standard socket) and gives up after about
// two seconds in all. Any thread.
std::optional<uid_t> ActiveGraphicalSessionUser();

}  // namespace platform::detail
