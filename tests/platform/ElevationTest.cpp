#include "platform/Elevation.h"

// What the test itself uses.
#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/Paths.h"
#include "tests/platform/TestEnv.h"
#include "tests/platform/TestUser.h"
#include "tests/platform/support/FakeLogind.h"
#include "tests/support/TestSupport.h"

using platformtest::FakeLogind;
using platformtest::FakeSession;
using platformtest::ScopedEnv;

namespace {

// Root without sudo or pkexec: only the login manager can name the interactive user.
class RootLoginTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root (elevation is what is tested)";
  }
  ScopedEnv sudo_{"SUDO_UID", nullptr};
  ScopedEnv sudoGid_{"SUDO_GID", nullptr};
  ScopedEnv pkexec_{"PKEXEC_UID", nullptr};
};

std::optional<uid_t> InteractiveUid() {
  std::optional<platform::UserIdentity> user = platform::InteractiveUser();
  return user ? std::optional<uid_t>(user->uid) : std::nullopt;
}

}  // namespace

TEST_F(RootLoginTest, SudoOrPkexecNamesTheUserAndRootIsNeverIt) {
  platformtest::TestUser user;
  ASSERT_TRUE(user.ok());
  ScopedEnv noBus("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/bus");
  {
    ScopedEnv uid("SUDO_UID", std::to_string(user.uid()).c_str());
    std::optional<platform::UserIdentity> who = platform::InteractiveUser();
    ASSERT_TRUE(who);
    EXPECT_EQ(who->uid, user.uid());
    EXPECT_EQ(who->gid, user.gid());
    EXPECT_EQ(who->name, user.name());
  }
  {
    ScopedEnv uid("PKEXEC_UID", std::to_string(user.uid()).c_str());
    EXPECT_EQ(InteractiveUid(), user.uid());
  }
  // sudo run by root itself, or ids that are not numbers, name nobody; with no login manager to
  // ask there is no interactive user at all.
  for (const char* bad : {"0", "-1", "12x", "", "4294967295"}) {
    ScopedEnv uid("SUDO_UID", bad);
    EXPECT_EQ(InteractiveUid(), std::nullopt) << bad;
  }
  EXPECT_EQ(InteractiveUid(), std::nullopt);
}

TEST_F(RootLoginTest, TheActiveLocalGraphicalSessionNamesTheUser) {
  if (!kvtest::HaveProgram("dbus-daemon")) GTEST_SKIP() << "dbus-daemon is not installed";
  // Sessions that do not count: a greeter, a remote login, a text console, an inactive one, and
  // root's own; then the user at seat0.
  FakeLogind logind;
  ASSERT_TRUE(logind.Start({
      {"1", 1101, "seat0", true, false, "x11", "greeter"},
      {"2", 1102, "", true, true, "x11", "user"},
      {"3", 1103, "seat0", true, false, "tty", "user"},
      {"4", 1104, "seat0", false, false, "wayland", "user"},
      {"5", 0, "seat1", true, false, "x11", "user"},
      {"6", 1106, "seat0", true, false, "wayland", "user"},
  }));
  ScopedEnv bus("DBUS_SYSTEM_BUS_ADDRESS", logind.address().c_str());
  EXPECT_EQ(InteractiveUid(), 1106u);
  // sudo's word comes first.
  ScopedEnv uid("SUDO_UID", "1107");
  EXPECT_EQ(InteractiveUid(), 1107u);
}

TEST_F(RootLoginTest, SeveralSeatsWithoutSeat0NameNobody) {
  if (!kvtest::HaveProgram("dbus-daemon")) GTEST_SKIP() << "dbus-daemon is not installed";
  FakeLogind two;
  ASSERT_TRUE(two.Start({{"1", 1201, "seat1"}, {"2", 1202, "seat2"}}));
  {
    ScopedEnv bus("DBUS_SYSTEM_BUS_ADDRESS", two.address().c_str());
    EXPECT_EQ(InteractiveUid(), std::nullopt);
  }
  {
    // Root itself sits at seat0: the user at another seat is not the one who started us.
    FakeLogind rootAtSeat0;
    ASSERT_TRUE(rootAtSeat0.Start({{"1", 1201, "seat1"}, {"2", 0, "seat0"}}));
    ScopedEnv bus("DBUS_SYSTEM_BUS_ADDRESS", rootAtSeat0.address().c_str());
    EXPECT_EQ(InteractiveUid(), std::nullopt);
  }
  FakeLogind one;
  ASSERT_TRUE(one.Start({{"1", 1201, "seat1"}, {"2", 1202, "seat2", false}}));
  ScopedEnv bus("DBUS_SYSTEM_BUS_ADDRESS", one.address().c_str());
  EXPECT_EQ(InteractiveUid(), 1201u);
}

TEST(Elevation, TestHooksAreIgnoredOnlyWhenElevatedThroughSudoOrPkexec) {
  kvtest::TempDir dir;
  ScopedEnv files("KV_PROGRAM_FILES", dir.path().c_str());
  ScopedEnv pkexec("PKEXEC_UID", nullptr);
  {
    ScopedEnv sudo("SUDO_UID", nullptr);
    EXPECT_EQ(platform::ProgramFilesFolder(), dir.path().string() + "/");
    EXPECT_EQ(platform::TestHookValue("KV_PROGRAM_FILES"), dir.path().string());
  }
  ScopedEnv sudo("SUDO_UID", "1000");
  if (::geteuid() != 0) {
    // Without privileges sudo's variables mean nothing.
    EXPECT_EQ(platform::TestHookValue("KV_PROGRAM_FILES"), dir.path().string());
    return;
  }
  EXPECT_EQ(platform::ProgramFilesFolder(), "/opt/");
  EXPECT_EQ(platform::TestHookValue("KV_PROGRAM_FILES"), "");
}

TEST(Elevation, DroppingTestHooksClearsOverridesAndCertificateLocations) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root (elevation is what is tested)";
  kvtest::TempDir dir;
  const std::string out = (dir / "env.txt").string();
  for (const char* elevatedBy : {"SUDO_UID=1000", "PKEXEC_UID=1000", ""}) {
    SCOPED_TRACE(elevatedBy);
    kvtest::ChildProcess probe;
    std::vector<std::string> argv{"/usr/bin/env",        "-i",
                                  "KV_PROGRAM_FILES=/x", "KV_REGISTRY_DIR=/y",
                                  "KV_ANYTHING=z",       "SSL_CERT_FILE=/c",
                                  "SSL_CERT_DIR=/d",     "LANG=C.UTF-8"};
    if (*elevatedBy != 0) argv.push_back(elevatedBy);
    argv.insert(argv.end(), {KV_PLATFORM_PROBE, "drop-hooks"});
    ASSERT_TRUE(probe.Start(argv, out));
    ASSERT_EQ(probe.Wait(std::chrono::seconds(30)), 0);
    const std::string env = kvtest::ReadFile(out);
    EXPECT_NE(env.find("LANG=C.UTF-8\n"), std::string::npos) << env;
    if (*elevatedBy != 0) {
      EXPECT_EQ(env.find("KV_"), std::string::npos) << env;
      EXPECT_EQ(env.find("SSL_CERT"), std::string::npos) << env;
      EXPECT_NE(env.find(std::string(elevatedBy) + "\n"), std::string::npos) << env;
    } else {
      for (const char* kept : {"KV_PROGRAM_FILES=/x", "KV_ANYTHING=z", "SSL_CERT_DIR=/d"}) {
        EXPECT_NE(env.find(kept), std::string::npos) << kept;
      }
    }
  }
}
