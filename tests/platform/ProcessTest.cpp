#include "platform/Process.h"

// What the test itself uses.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>

#include "tests/platform/TestEnv.h"
#include "tests/support/TestSupport.h"

namespace fs = std::filesystem;
using platformtest::ScopedEnv;
using platformtest::WriteScript;

TEST(Process, StartProcessPassesArgumentsAndReportsHowTheChildEnded) {
  kvtest::TempDir dir;
  const fs::path out = dir / "args.txt";
  WriteScript(dir / "args", "printf '%s|' \"$0\" \"$@\" > \"" + out.string() + "\"; exit 7");
  pid_t pid = platform::StartProcess((dir / "args").string(), {"one two", "", "\xc3\xa9"});
  ASSERT_GT(pid, 0);
  EXPECT_EQ(platform::WaitProcess(pid), 7);
  EXPECT_EQ(kvtest::ReadFile(out), (dir / "args").string() + "|one two||\xc3\xa9|");

  WriteScript(dir / "killed", "kill -TERM $$");
  EXPECT_EQ(platform::WaitProcess(platform::StartProcess((dir / "killed").string(), {})),
            128 + SIGTERM);
  EXPECT_EQ(platform::WaitProcess(pid), -1);  // already reaped
  EXPECT_EQ(platform::WaitProcess(0), -1);
}

TEST(Process, ProgramsThatCannotRunAreNotStarted) {
  kvtest::TempDir dir;
  EXPECT_EQ(platform::StartProcess((dir / "missing").string(), {}), -1);
  kvtest::WriteFile(dir / "plain", "not runnable");
  EXPECT_EQ(platform::StartProcess((dir / "plain").string(), {}), -1);
  EXPECT_EQ(platform::StartProcess("", {}), -1);
  EXPECT_FALSE(platform::StartDetached((dir / "missing").string(), {}));
  if (::geteuid() == 0) {
    ScopedEnv uid("SUDO_UID", "65534");
    // Dropped to nobody, a program only root may run fails to start instead of running as root.
    WriteScript(dir / "exit7", "exit 7");
    fs::permissions(dir / "exit7", fs::perms::owner_all);
    EXPECT_EQ(
        platform::StartProcess((dir / "exit7").string(), {}, platform::RunAs::InteractiveUser), -1);
  }
}

TEST(Process, ElevatingUserIsKnownOnlyWhileElevated) {
  ScopedEnv uid("SUDO_UID", "65534");
  ScopedEnv gid("SUDO_GID", "65533");
  ScopedEnv pk("PKEXEC_UID", nullptr);
  std::optional<platform::UserIdentity> user = platform::ElevatingUser();
  if (::geteuid() != 0) {
    // Without privileges there is nothing to drop, whatever the environment says.
    EXPECT_FALSE(user);
    return;
  }
  ASSERT_TRUE(user);
  EXPECT_EQ(user->uid, 65534u);
  EXPECT_EQ(user->gid, 65533u);
  EXPECT_EQ(user->name, "nobody");
  // Root itself, or text that is no id, is never taken as the user to drop to.
  for (const char* bad : {"0", "-1", "12x", ""}) {
    ScopedEnv again("SUDO_UID", bad);
    EXPECT_FALSE(platform::ElevatingUser()) << bad;
  }
  ScopedEnv noSudo("SUDO_UID", nullptr);
  ScopedEnv viaPkexec("PKEXEC_UID", "65534");
  ASSERT_TRUE(platform::ElevatingUser());
  EXPECT_EQ(platform::ElevatingUser()->uid, 65534u);
}

TEST(Process, CommandLinesSplitLikeTheInstallerExpects) {
  using platform::SplitCommandLine;
  EXPECT_EQ(SplitCommandLine(" /verysilent /korvana_down /wait_run /path=\"/opt/My Apps/\" "
                             "/progress=\"/tmp/temp.progress\""),
            (std::vector<std::string>{"/verysilent", "/korvana_down", "/wait_run",
                                      "/path=/opt/My Apps/", "/progress=/tmp/temp.progress"}));
  EXPECT_EQ(SplitCommandLine(R"(a\\\"b "c\\" d\e "" "x""y")"),
            (std::vector<std::string>{R"(a\"b)", R"(c\)", R"(d\e)", "", R"(x"y)"}));
  EXPECT_TRUE(SplitCommandLine("  \t ").empty());
}
