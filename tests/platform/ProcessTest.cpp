#include "platform/Process.h"

// What the test itself uses.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "tests/platform/TestEnv.h"
#include "tests/platform/TestUser.h"
#include "tests/platform/support/FakeLogind.h"
#include "tests/support/TestSupport.h"

namespace fs = std::filesystem;
using platform::RunAs;
using platform::StartResult;
using platformtest::ScopedEnv;
using platformtest::WriteScript;

namespace {

// The state letter of /proc/PID/stat ('S' sleeping, 'R' running...).
char StateOf(pid_t pid) {
  std::string stat = kvtest::ReadFile("/proc/" + std::to_string(pid) + "/stat");
  std::size_t paren = stat.rfind(')');
  return paren != std::string::npos && paren + 2 < stat.size() ? stat[paren + 2] : '?';
}

// Waits until the child has exec'ed the program with this file name and gone to sleep in it
// (the exec has then finished closing descriptors).
bool WaitForExec(pid_t pid, const std::string& fileName) {
  for (int i = 0; i < 500; ++i) {
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/" + std::to_string(pid) + "/exe", ec);
    if (!ec && exe.filename().string().rfind(fileName, 0) == 0 && StateOf(pid) == 'S') return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

// Descriptor number -> what it points at.
std::map<int, std::string> DescriptorsOf(pid_t pid) {
  std::map<int, std::string> out;
  for (const auto& e : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd")) {
    std::error_code ec;
    out[std::stoi(e.path().filename().string())] = fs::read_symlink(e.path(), ec).string();
  }
  return out;
}

std::set<int> Numbers(const std::map<int, std::string>& fds) {
  std::set<int> out;
  for (const auto& [fd, target] : fds) out.insert(fd);
  return out;
}

// The "Uid:" or "Gid:" line of /proc/PID/status: real, effective, saved, file-system ids.
std::string StatusLine(pid_t pid, const std::string& key) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(key + ":", 0) == 0) return line;
  }
  return {};
}

std::string AllFour(unsigned id) {
  const std::string s = std::to_string(id);
  return s + "\t" + s + "\t" + s + "\t" + s;
}

void Finish(pid_t pid) {
  platform::KillProcess(static_cast<std::uint32_t>(pid));
  platform::WaitProcess(pid);
}

// Root with no sudo or pkexec variables and no login manager: nobody to start things as.
class NoInteractiveUserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root (elevation is what is tested)";
  }
  ScopedEnv sudo_{"SUDO_UID", nullptr};
  ScopedEnv pkexec_{"PKEXEC_UID", nullptr};
  ScopedEnv bus_{"DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/bus"};
};

}  // namespace

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
  EXPECT_EQ(platform::StartDetached((dir / "missing").string(), {}), StartResult::Failed);
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

TEST(Process, StartedChildrenHaveOnlyDescriptorsZeroToTwo) {
  // Descriptors of ours that are not close-on-exec: without the cleanup they would be inherited.
  int leaky = ::open("/dev/null", O_RDONLY);
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  int exe = ::open("/bin/sleep", O_RDONLY | O_CLOEXEC);
  ASSERT_GE(exe, 0);

  pid_t byPath = platform::StartProcess("/bin/sleep", {"30"});
  pid_t fromFile = platform::StartProcessFromFile(exe, "kv-from-file", {"30"});
  ASSERT_GT(byPath, 0);
  ASSERT_GT(fromFile, 0);
  for (pid_t pid : {byPath, fromFile}) {
    ASSERT_TRUE(WaitForExec(pid, "sleep"));
    EXPECT_EQ(Numbers(DescriptorsOf(pid)), (std::set<int>{0, 1, 2})) << pid;
  }
  EXPECT_EQ(kvtest::ReadFile("/proc/" + std::to_string(fromFile) + "/cmdline"),
            std::string("kv-from-file\0"
                        "30\0",
                        16));
  Finish(byPath);
  Finish(fromFile);
  for (int fd : {leaky, pipeFds[0], pipeFds[1], exe}) ::close(fd);
}

TEST(Process, StartProcessFromFileRunsTheOpenFileNotWhatIsNowAtItsPath) {
  kvtest::TempDir dir;
  fs::copy_file("/bin/sleep", dir / "installer");
  int fd = ::open((dir / "installer").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  // Someone swaps the file after it was checked: the checked one still runs.
  WriteScript(dir / "swapped", "touch \"" + (dir / "swapped-ran").string() + "\"");
  fs::rename(dir / "swapped", dir / "installer");
  pid_t pid = platform::StartProcessFromFile(fd, "installer", {"30"});
  ASSERT_GT(pid, 0);
  EXPECT_TRUE(WaitForExec(pid, "installer"));
  EXPECT_EQ(kvtest::ReadFile("/proc/" + std::to_string(pid) + "/cmdline"), std::string("installer\0"
                                                                                       "30\0",
                                                                                       13));
  Finish(pid);
  EXPECT_FALSE(fs::exists(dir / "swapped-ran"));
  ::close(fd);

  // A "#!" script cannot start from a close-on-exec descriptor; that is a failure, not a hang.
  int script = ::open((dir / "installer").c_str(), O_RDONLY | O_CLOEXEC);
  EXPECT_EQ(platform::StartProcessFromFile(script, "installer", {}), -1);
  ::close(script);
  EXPECT_EQ(platform::StartProcessFromFile(-1, "installer", {}), -1);
}

// A file still open for writing somewhere (a child another thread just forked holds a copy of
// the downloader's descriptor until its own exec) cannot run yet: the start waits for it.
TEST(Process, AFileBusyForAMomentStillStarts) {
  kvtest::TempDir dir;
  fs::copy_file("/bin/true", dir / "installer");
  fs::permissions(dir / "installer", fs::perms::owner_all);
  const int writer = ::open((dir / "installer").c_str(), O_WRONLY | O_CLOEXEC);
  ASSERT_GE(writer, 0);
  const int fd = ::open((dir / "installer").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  std::thread release([writer] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ::close(writer);
  });
  const pid_t pid = platform::StartProcessFromFile(fd, "installer", {});
  release.join();
  ::close(fd);
  ASSERT_GT(pid, 0);
  EXPECT_EQ(platform::WaitProcess(pid), 0);
}

TEST(Process, AsTheInteractiveUserTheChildIsThatUserAwayFromOurTerminal) {
  KV_SKIP_UNLESS_ROOT();
  platformtest::TestUser user;
  ASSERT_TRUE(user.ok());
  ScopedEnv uid("SUDO_UID", std::to_string(user.uid()).c_str());
  ScopedEnv gid("SUDO_GID", nullptr);
  int leaky = ::open("/dev/null", O_RDONLY);
  StartResult result = StartResult::Failed;
  pid_t pid = platform::StartProcess("/bin/sleep", {"30"}, RunAs::InteractiveUser, &result);
  ASSERT_GT(pid, 0);
  EXPECT_EQ(result, StartResult::Started);
  ASSERT_TRUE(WaitForExec(pid, "sleep"));
  EXPECT_EQ(StatusLine(pid, "Uid"), "Uid:\t" + AllFour(user.uid()));
  EXPECT_EQ(StatusLine(pid, "Gid"), "Gid:\t" + AllFour(user.gid()));
  EXPECT_EQ(StatusLine(pid, "Groups"), "Groups:\t" + std::to_string(user.gid()) + " ");
  // Only 0-2, none of them ours: a terminal of root's could be fed keystrokes otherwise.
  std::map<int, std::string> fds = DescriptorsOf(pid);
  EXPECT_EQ(Numbers(fds), (std::set<int>{0, 1, 2}));
  for (const auto& [fd, target] : fds) EXPECT_EQ(target, "/dev/null") << fd;
  EXPECT_EQ(::getsid(pid), pid);
  Finish(pid);
  ::close(leaky);
}

TEST_F(NoInteractiveUserTest, NothingStartsAsRootInTheUsersPlace) {
  kvtest::TempDir dir;
  WriteScript(dir / "product", "/usr/bin/touch \"" + (dir / "ran").string() + "\"");
  WriteScript(dir / "xdg-open", "/usr/bin/touch \"" + (dir / "opened").string() + "\"");
  ScopedEnv path("PATH", dir.path().c_str());
  StartResult result = StartResult::Started;
  EXPECT_EQ(platform::StartProcess((dir / "product").string(), {}, RunAs::InteractiveUser, &result),
            -1);
  EXPECT_EQ(result, StartResult::NoInteractiveUser);
  EXPECT_EQ(platform::StartDetached((dir / "product").string(), {}, RunAs::InteractiveUser),
            StartResult::NoInteractiveUser);
  EXPECT_EQ(platform::OpenWithDefaultHandler("https://example.test/"),
            StartResult::NoInteractiveUser);
  // Started as ourselves, the same program runs: the refusal above was about the user alone.
  pid_t self = platform::StartProcess((dir / "product").string(), {}, RunAs::Self, &result);
  EXPECT_EQ(result, StartResult::Started);
  EXPECT_EQ(platform::WaitProcess(self), 0);
  EXPECT_TRUE(fs::exists(dir / "ran"));
  EXPECT_FALSE(fs::exists(dir / "opened"));
}

TEST_F(NoInteractiveUserTest, TheGraphicalSessionsUserIsUsedWhenNobodyElevatedUs) {
  if (!kvtest::HaveProgram("dbus-daemon")) GTEST_SKIP() << "dbus-daemon is not installed";
  platformtest::TestUser user;
  ASSERT_TRUE(user.ok());
  platformtest::FakeLogind logind;
  ASSERT_TRUE(logind.Start({{"c2", user.uid(), "seat0"}}));
  ScopedEnv bus("DBUS_SYSTEM_BUS_ADDRESS", logind.address().c_str());
  StartResult result = StartResult::Failed;
  pid_t pid = platform::StartProcess("/bin/sleep", {"30"}, RunAs::InteractiveUser, &result);
  ASSERT_GT(pid, 0);
  EXPECT_EQ(result, StartResult::Started);
  ASSERT_TRUE(WaitForExec(pid, "sleep"));
  EXPECT_EQ(StatusLine(pid, "Uid"), "Uid:\t" + AllFour(user.uid()));
  Finish(pid);
}
