// Who we run as and on whose behalf: elevation through sudo or pkexec, the interactive user that
// programs meant to run unelevated are started as, and the environment overrides that are only
// honoured when nobody elevated us. Any thread unless said otherwise.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

namespace platform {

struct UserIdentity {
  uid_t uid;
  gid_t gid;
  std::string name;  // may be empty when the user database does not know the id
  std::string home;
};

// True while the effective uid is 0.
bool IsElevated();

// True when the effective uid is 0 and SUDO_UID or PKEXEC_UID is set: a user asked for root
// through sudo or pkexec and must not be able to steer us through our environment.
bool IsElevatedThroughSudoOrPkexec();

// The user who elevated us: SUDO_UID/SUDO_GID or PKEXEC_UID, only while the effective uid is 0.
// Never root itself.
std::optional<UserIdentity> ElevatingUser();

// The user that "runs unelevated" means:
// - not elevated: ourselves;
// - elevated through sudo or pkexec: that user (ElevatingUser);
// - otherwise elevated (su, doas, a root login): the user of the active graphical session
//   that logind reports on the system bus (seat0's first, else the only one);
// - nullopt when none of these names a user other than root. Callers then must not start
//   anything as root in that user's place.
// May block for up to about two seconds while asking logind.
std::optional<UserIdentity> InteractiveUser();

// The value of a test override (KV_PROGRAM_FILES, KV_REGISTRY_DIR, ...), or "" when it is
// unset, empty, or we were elevated through sudo or pkexec.
std::string TestHookValue(const char* name);

// When elevated through sudo or pkexec, removes every KV_* variable and SSL_CERT_FILE /
// SSL_CERT_DIR from the environment, so neither our readers nor the libraries below (OpenSSL,
// libcurl) see them. Call first thing in main(), before any thread starts: it changes the
// environment.
void DropTestHooksWhenElevated();

}  // namespace platform
