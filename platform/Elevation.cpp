#include "platform/Elevation.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/Paths.h"
#include "platform/detail/LogindSessions.h"

extern char** environ;

namespace platform {
namespace {

// A user id other than root's, written in decimal.
std::optional<uid_t> ParseUserId(const std::string& text) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) {
    return std::nullopt;
  }
  errno = 0;
  unsigned long v = std::strtoul(text.c_str(), nullptr, 10);
  if (errno != 0 || v == 0 || v > UINT_MAX - 1) return std::nullopt;
  return static_cast<uid_t>(v);
}

UserIdentity IdentityOf(uid_t uid) {
  UserIdentity user{uid, static_cast<gid_t>(uid), {}, {}};
  struct passwd pw {};
  struct passwd* found = nullptr;
  std::vector<char> buf(16384);
  if (::getpwuid_r(uid, &pw, buf.data(), buf.size(), &found) == 0 && found != nullptr) {
    user.gid = found->pw_gid;
    user.name = found->pw_name != nullptr ? found->pw_name : "";
    user.home = found->pw_dir != nullptr ? found->pw_dir : "";
  }
  return user;
}

}  // namespace

bool IsElevated() {
  return ::geteuid() == 0;
}

bool IsElevatedThroughSudoOrPkexec() {
  return IsElevated() &&
         (std::getenv("SUDO_UID") != nullptr || std::getenv("PKEXEC_UID") != nullptr);
}

std::optional<UserIdentity> ElevatingUser() {
  if (!IsElevated()) return std::nullopt;
  const std::string sudoUid = EnvOrEmpty("SUDO_UID");
  std::optional<uid_t> uid = ParseUserId(sudoUid);
  if (!uid) uid = ParseUserId(EnvOrEmpty("PKEXEC_UID"));
  if (!uid) return std::nullopt;
  UserIdentity user = IdentityOf(*uid);
  // sudo names the group it was called with; the id is a group id, so 0 is valid here.
  if (!sudoUid.empty() && ParseUserId(sudoUid) == uid) {
    const std::string gid = EnvOrEmpty("SUDO_GID");
    if (!gid.empty() && gid.find_first_not_of("0123456789") == std::string::npos &&
        gid.size() < 11) {
      unsigned long v = std::strtoul(gid.c_str(), nullptr, 10);
      if (v < UINT_MAX) user.gid = static_cast<gid_t>(v);
    }
  }
  return user;
}

std::optional<UserIdentity> InteractiveUser() {
  if (!IsElevated()) return IdentityOf(::geteuid());
  if (std::optional<UserIdentity> user = ElevatingUser()) return user;
  // Elevated without sudo or pkexec: whoever sits at the graphical session, never root.
  if (std::optional<uid_t> uid = detail::ActiveGraphicalSessionUser(); uid && *uid != 0) {
    return IdentityOf(*uid);
  }
  return std::nullopt;
}

std::string TestHookValue(const char* name) {
  if (IsElevatedThroughSudoOrPkexec()) return {};
  return EnvOrEmpty(name);
}

void DropTestHooksWhenElevated() {
  if (!IsElevatedThroughSudoOrPkexec()) return;
  std::vector<std::string> names{"SSL_CERT_FILE", "SSL_CERT_DIR"};
  for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
    if (std::strncmp(*e, "KV_", 3) != 0) continue;
    const char* eq = std::strchr(*e, '=');
    if (eq != nullptr) names.emplace_back(*e, static_cast<std::size_t>(eq - *e));
  }
  for (const std::string& name : names) ::unsetenv(name.c_str());
}

}  // namespace platform
