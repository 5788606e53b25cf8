#include "sys/ProcessUtils.h"

// What the test itself uses.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "tests/platform/TestEnv.h"
#include "tests/platform/TestUser.h"
#include "tests/support/TestSupport.h"

namespace fs = std::filesystem;
using platformtest::ScopedEnv;
using platformtest::WriteScript;

namespace {

// A long-running real process whose executable has the chosen file name.
kvtest::ChildProcess StartNamed(const fs::path& dir, const std::string& name) {
  fs::path exe = dir / name;
  if (!fs::exists(exe)) fs::copy_file("/bin/sleep", exe);
  kvtest::ChildProcess child;
  EXPECT_TRUE(child.Start({exe.string(), "60"}));
  // The name is visible once the child has exec'ed.
  for (int i = 0; i < 200; ++i) {
    std::error_code ec;
    if (fs::read_symlink("/proc/" + std::to_string(child.pid()) + "/exe", ec) == exe) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return child;
}

// Names unique to this test run, so that other tests' processes never answer for ours.
std::string Unique(const std::string& stem, const std::string& ext) {
  return stem + "-" + std::to_string(::getpid()) + ext;
}

std::wstring Wide(const std::string& s) {
  return std::wstring(s.begin(), s.end());
}

bool WaitForFile(const fs::path& p) {
  for (int i = 0; i < 300; ++i) {
    if (fs::exists(p) && fs::file_size(p) > 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

}  // namespace

TEST(ProcessUtils, FindProcessMatchesTheWholeFileNameWithCase) {
  kvtest::TempDir dir;
  const std::string name = Unique("Lumenstack", ".exe");
  kvtest::ChildProcess product = StartNamed(dir.path(), name);
  std::uint32_t pid = 0;
  ASSERT_TRUE(FindProcess(Wide(name), pid));
  EXPECT_EQ(pid, static_cast<std::uint32_t>(product.pid()));

  std::uint32_t untouched = 4242;
  EXPECT_FALSE(FindProcess(Wide("l" + name.substr(1)), untouched));
  EXPECT_FALSE(FindProcess(Wide(name.substr(0, name.size() - 4)), untouched));
  EXPECT_FALSE(FindProcess(Wide(name + ".old"), untouched));
  EXPECT_FALSE(FindProcess(L"", untouched));
  EXPECT_EQ(untouched, 4242u);

  // Names past the 15 bytes of "comm" and past 63 characters are still told apart.
  const std::string longName = Unique(std::string(70, 'k'), "");
  kvtest::ChildProcess longOne = StartNamed(dir.path(), longName);
  ASSERT_TRUE(FindProcess(Wide(longName), pid));
  EXPECT_EQ(pid, static_cast<std::uint32_t>(longOne.pid()));
  EXPECT_FALSE(FindProcess(Wide(longName.substr(1)), untouched));
}

TEST(ProcessUtils, FirstOfTwoCopiesInProcessOrderIsReported) {
  kvtest::TempDir dir;
  fs::create_directories(dir / "a");
  fs::create_directories(dir / "b");
  const std::string name = Unique("korvana-download", ".tmp");
  kvtest::ChildProcess one = StartNamed(dir / "a", name);
  kvtest::ChildProcess two = StartNamed(dir / "b", name);
  // The order the process table lists them in, read here without the code under test.
  std::uint32_t first = 0;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string id = entry.path().filename().string();
    if (id != std::to_string(one.pid()) && id != std::to_string(two.pid())) continue;
    first = static_cast<std::uint32_t>(std::stoul(id));
    break;
  }
  ASSERT_NE(first, 0u);
  std::uint32_t pid = 0;
  ASSERT_TRUE(FindProcess(Wide(name), pid));
  EXPECT_EQ(pid, first);
  // Once the first copy has ended the other one answers.
  kvtest::ChildProcess& firstChild = first == static_cast<std::uint32_t>(one.pid()) ? one : two;
  kvtest::ChildProcess& otherChild = &firstChild == &one ? two : one;
  firstChild.Stop(9);
  ASSERT_TRUE(FindProcess(Wide(name), pid));
  EXPECT_EQ(pid, static_cast<std::uint32_t>(otherChild.pid()));
}

TEST(ProcessUtils, KillProcessEndsTheProcessAndRefusesWhatItCannotEnd) {
  kvtest::TempDir dir;
  const std::string name = Unique("Lumenstack", ".exe");
  kvtest::ChildProcess product = StartNamed(dir.path(), name);
  std::uint32_t pid = 0;
  ASSERT_TRUE(FindProcess(Wide(name), pid));
  EXPECT_TRUE(KillProcess(pid));
  int status = product.Wait(std::chrono::seconds(10));
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGKILL);
  EXPECT_FALSE(FindProcess(Wide(name), pid));

  EXPECT_FALSE(KillProcess(pid));  // reaped: gone
  EXPECT_FALSE(KillProcess(0));    // would be our own process group
  EXPECT_FALSE(KillProcess(0xFFFFFFFFu));
}

TEST(ProcessUtils, RunProgramAsAdminKeepsOurUserAndOtherwiseDropsToTheInteractiveOne) {
  kvtest::TempDir dir;
  fs::permissions(dir.path(), fs::perms::all);  // the dropped child writes here too
  WriteScript(dir / "who", "id -u > \"" + (dir / "who.uid").string() + "\"");

  EXPECT_EQ(RunProgram((dir / "who").wstring(), true), RunResult::Started);
  ASSERT_TRUE(WaitForFile(dir / "who.uid"));
  EXPECT_EQ(std::stoul(kvtest::ReadFile(dir / "who.uid")), ::geteuid());
  fs::remove(dir / "who.uid");

  // Elevated through sudo by "nobody": the product must run as that user, not as us.
  ScopedEnv uid("SUDO_UID", "65534");
  ScopedEnv gid("SUDO_GID", "65534");
  ScopedEnv bus("DBUS_SESSION_BUS_ADDRESS", "unix:path=/run/user/0/bus");
  WriteScript(dir / "env", "echo \"$(id -u) $HOME $USER [$DBUS_SESSION_BUS_ADDRESS]\" > \"" +
                               (dir / "env.txt").string() + "\"");
  EXPECT_EQ(RunProgram((dir / "who").wstring(), false), RunResult::Started);
  ASSERT_TRUE(WaitForFile(dir / "who.uid"));
  EXPECT_EQ(std::stoul(kvtest::ReadFile(dir / "who.uid")), ::geteuid() == 0 ? 65534u : ::geteuid());
  if (::geteuid() == 0) {
    // The user's own home and name, and not our session bus.
    RunProgram((dir / "env").wstring(), false);
    ASSERT_TRUE(WaitForFile(dir / "env.txt"));
    EXPECT_EQ(kvtest::ReadFile(dir / "env.txt"), "65534 /nonexistent nobody []\n");
  }
}

TEST(ProcessUtils, ShellOpenHandsTheTargetToTheDesktopHandler) {
  kvtest::TempDir dir;
  fs::permissions(dir.path(), fs::perms::all);  // the handler may run as another user
  // As root, the handler runs as the user who elevated us.
  std::unique_ptr<platformtest::TestUser> user;
  if (::geteuid() == 0) {
    user = std::make_unique<platformtest::TestUser>();
    ASSERT_TRUE(user->ok());
  }
  ScopedEnv sudo("SUDO_UID", user ? std::to_string(user->uid()).c_str() : nullptr);
  ScopedEnv sudoGid("SUDO_GID", nullptr);
  WriteScript(dir / "xdg-open", "printf '%s' \"$1\" > \"" + (dir / "opened").string() + "\"");
  ScopedEnv path("PATH", dir.path().c_str());
  EXPECT_EQ(ShellOpen(nullptr, L"https://example.test/after?lang=\u00e9 x"), RunResult::Started);
  ASSERT_TRUE(WaitForFile(dir / "opened"));
  EXPECT_EQ(kvtest::ReadFile(dir / "opened"), "https://example.test/after?lang=\xc3\xa9 x");

  // Without xdg-open, GLib's opener is asked.
  fs::create_directories(dir / "glib");
  fs::permissions(dir / "glib", fs::perms::all);
  WriteScript(dir / "glib" / "gio",
              "printf '%s %s' \"$1\" \"$2\" > \"" + (dir / "gio-opened").string() + "\"");
  ScopedEnv glib("PATH", (dir / "glib").c_str());
  EXPECT_EQ(ShellOpen(nullptr, L"/opt/readme.txt"), RunResult::Started);
  ASSERT_TRUE(WaitForFile(dir / "gio-opened"));
  EXPECT_EQ(kvtest::ReadFile(dir / "gio-opened"), "open /opt/readme.txt");

  ScopedEnv none("PATH", (dir / "empty").c_str());
  EXPECT_EQ(ShellOpen(nullptr, L"/tmp/x"), RunResult::Failed);
}

TEST(ProcessUtils, WithNoInteractiveUserNothingIsStartedAsRootAndTheResultSaysSo) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root (elevation is what is tested)";
  kvtest::TempDir dir;
  // Elevated by su or a root login, with no login manager to name the user at the display.
  ScopedEnv sudo("SUDO_UID", nullptr);
  ScopedEnv pkexec("PKEXEC_UID", nullptr);
  ScopedEnv bus("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/bus");
  WriteScript(dir / "product", "/usr/bin/touch \"" + (dir / "ran").string() + "\"");
  WriteScript(dir / "xdg-open", "/usr/bin/touch \"" + (dir / "opened").string() + "\"");
  ScopedEnv path("PATH", dir.path().c_str());
  EXPECT_EQ(RunProgram((dir / "product").wstring(), false), RunResult::NoInteractiveUser);
  EXPECT_EQ(ShellOpen(nullptr, L"https://example.test/after"), RunResult::NoInteractiveUser);
  // The product that is meant to run as root still does.
  EXPECT_EQ(RunProgram((dir / "product").wstring(), true), RunResult::Started);
  for (int i = 0; i < 300 && !fs::exists(dir / "ran"); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_TRUE(fs::exists(dir / "ran"));
  EXPECT_FALSE(fs::exists(dir / "opened"));
}
