#include "platform/NamedLock.h"

// What the test itself uses.
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <set>
#include <thread>

#include "platform/InstanceChannel.h"
#include "platform/TextCodec.h"
#include "tests/platform/TestUser.h"
#include "tests/support/TestSupport.h"

namespace fs = std::filesystem;
using platform::InstanceChannel;
using platform::NamedLock;
using platform::NamedLockResult;

namespace {

// Names of this process alone: root's lock folder is shared by every test run on the machine.
std::string Unique(const std::string& stem) {
  return stem + "-" + std::to_string(::getpid());
}

std::wstring W(const std::string& s) {
  return platform::Utf8ToWide(s);
}

// Waits until `file` holds `text`.
bool WaitForText(const fs::path& file, const std::string& text) {
  for (int i = 0; i < 400; ++i) {
    if (fs::exists(file) && kvtest::ReadFile(file).find(text) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  return false;
}

int Connect(const std::string& path) {
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Asks on the socket by hand, whoever listens; what comes back within a second.
std::string AskByHand(const std::string& socketPath) {
  int fd = Connect(socketPath);
  if (fd < 0) return "<no connection>";
  (void)!::write(fd, "present\n", 8);
  std::string reply;
  pollfd p{fd, POLLIN, 0};
  char buf[16];
  while (::poll(&p, 1, 1000) > 0) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0) break;
    reply.append(buf, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return reply;
}

struct stat StatOf(const std::string& p) {
  struct stat st {};
  ::lstat(p.c_str(), &st);
  return st;
}

class NamedLockTest : public ::testing::Test {
 protected:
  void SetUp() override { ::setenv("XDG_RUNTIME_DIR", dir_.path().c_str(), 1); }
  void TearDown() override { ::unsetenv("XDG_RUNTIME_DIR"); }
  // Root's locks live in its own folder whatever the environment says.
  fs::path ExpectedFolder() const {
    return ::geteuid() == 0 ? fs::path("/run/kvdownloader") : dir_.path();
  }

  kvtest::TempDir dir_;
};

// Root, and a second user who tries to get in its way.
class RootLockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root (to act as a second, unprivileged user)";
    ASSERT_TRUE(user_.ok());
    probe_ = platformtest::ReachableCopy(bin_.path(), KV_PLATFORM_PROBE);
    // A folder the user may write in, for its own sockets and output.
    ::chmod(shared_.path().c_str(), 01777);
  }

  platformtest::TestUser user_;
  kvtest::TempDir bin_;
  kvtest::TempDir shared_;
  std::string probe_;
};

}  // namespace

TEST_F(NamedLockTest, SecondHolderIsToldItExistsUntilTheFirstEnds) {
  const std::string name = Unique("KV Setup \u00e9/1");
  kvtest::ChildProcess holder;
  fs::path out = dir_ / "holder.out";
  std::map<std::string, std::string> env{{"XDG_RUNTIME_DIR", dir_.path().string()}};
  ASSERT_TRUE(holder.Start({KV_PLATFORM_PROBE, "lock", name}, out.string(), env));
  ASSERT_TRUE(WaitForText(out, "ready"));

  NamedLock second;
  EXPECT_EQ(second.Acquire(W(name)), NamedLockResult::AlreadyExists);
  EXPECT_EQ(fs::path(second.LockPath()).parent_path(), ExpectedFolder());
  EXPECT_EQ(second.ErrorText(), "");
  NamedLock other;
  EXPECT_EQ(other.Acquire(W(Unique("KV Setup \u00e9/2"))), NamedLockResult::Created);

  // The second instance's request reaches the first, which answers.
  EXPECT_TRUE(InstanceChannel::AskPresent(second));
  EXPECT_TRUE(WaitForText(out, "presented"));

  holder.Stop(9);  // even a killed holder releases the lock
  NamedLock third;
  EXPECT_EQ(third.Acquire(W(name)), NamedLockResult::Created);
  // Nobody listens now: the question goes unanswered instead of hanging.
  NamedLock fourth;
  EXPECT_EQ(fourth.Acquire(W(name)), NamedLockResult::AlreadyExists);
  EXPECT_FALSE(InstanceChannel::AskPresent(fourth, std::chrono::milliseconds(300)));
  fs::remove(InstanceChannel::SocketPathFor(third.LockPath()));  // the killed holder's
}

TEST_F(NamedLockTest, SecondProcessAsksAndExitsWith255) {
  const std::string name = Unique("probe-app");
  NamedLock first;
  ASSERT_EQ(first.Acquire(W(name)), NamedLockResult::Created);
  int presented = 0;
  InstanceChannel channel;
  ASSERT_TRUE(channel.Listen(first, [&] { ++presented; }));
  EXPECT_FALSE(channel.Listen(first, [] {}));
  // Only our own user may even connect.
  const std::string sock = InstanceChannel::SocketPathFor(first.LockPath());
  EXPECT_EQ(StatOf(sock).st_mode & 0777, 0600u);
  EXPECT_EQ(StatOf(first.LockPath()).st_mode & 0777, 0600u);

  kvtest::ChildProcess second;
  fs::path out = dir_ / "second.out";
  ASSERT_TRUE(second.Start({KV_PLATFORM_PROBE, "ask", name}, out.string(),
                           {{"XDG_RUNTIME_DIR", dir_.path().string()}}));
  int status = second.Wait(std::chrono::seconds(30));
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 255);
  EXPECT_EQ(kvtest::ReadFile(out), "exists\nanswered\n");
  // A peer that connects and says nothing holds the listener up only briefly.
  int silent = Connect(sock);
  ASSERT_GE(silent, 0);
  NamedLock another;
  EXPECT_EQ(another.Acquire(W(name)), NamedLockResult::AlreadyExists);
  EXPECT_TRUE(InstanceChannel::AskPresent(another, std::chrono::seconds(5)));
  ::close(silent);

  channel.Stop();
  EXPECT_EQ(presented, 2);
  EXPECT_FALSE(fs::exists(sock));
}

TEST_F(NamedLockTest, NamesThatDifferOnlyInUnsafeCharactersGetTheirOwnFiles) {
  std::set<std::string> paths;
  for (const wchar_t* n : {L"a/b", L"a_b", L"a%2Fb", L"a b", L"..", L".", L"\u4e2d"}) {
    std::string p = NamedLock::PathFor(n);
    EXPECT_EQ(fs::path(p).parent_path(), ExpectedFolder()) << p;
    paths.insert(p);
  }
  EXPECT_EQ(paths.size(), 7u);
  // Very long names still make valid file and socket names; the file goes with its holder.
  std::wstring longName = W(Unique(std::string(600, 'x')));
  std::string lockFile;
  {
    NamedLock a, b;
    EXPECT_EQ(a.Acquire(longName), NamedLockResult::Created);
    EXPECT_EQ(b.Acquire(longName), NamedLockResult::AlreadyExists);
    EXPECT_LT(InstanceChannel::SocketPathFor(a.LockPath()).size(), 108u);
    lockFile = a.LockPath();
    EXPECT_TRUE(fs::exists(lockFile));
  }
  EXPECT_FALSE(fs::exists(lockFile));
}

TEST_F(RootLockTest, AUserHoldingTheOldTmpNameDoesNotStopRoot) {
  const std::string name = Unique("kv-squat");
  // The name root used to lock in /tmp, taken and answered on by the user.
  const std::string oldBase = "/tmp/kvdownloader-" + name;
  kvtest::ChildProcess squatter;
  const fs::path out = shared_ / "squatter.out";
  ASSERT_TRUE(squatter.Start(user_.As({probe_, "squat", oldBase}), out.string()));
  ASSERT_TRUE(WaitForText(out, "ready"));

  NamedLock first;
  ASSERT_EQ(first.Acquire(W(name)), NamedLockResult::Created) << first.ErrorText();
  EXPECT_EQ(fs::path(first.LockPath()).parent_path(), "/run/kvdownloader");
  struct stat folder = StatOf("/run/kvdownloader");
  EXPECT_EQ(folder.st_uid, 0u);
  EXPECT_EQ(folder.st_mode & 0777, 0700u);
  EXPECT_EQ(StatOf(first.LockPath()).st_uid, 0u);
  int presented = 0;
  InstanceChannel channel;
  ASSERT_TRUE(channel.Listen(first, [&] { ++presented; }));
  NamedLock second;
  EXPECT_EQ(second.Acquire(W(name)), NamedLockResult::AlreadyExists);
  EXPECT_TRUE(InstanceChannel::AskPresent(second));
  channel.Stop();
  EXPECT_EQ(presented, 1);
  EXPECT_EQ(kvtest::ReadFile(out).find("asked"), std::string::npos);
  squatter.Stop(9);
  fs::remove(oldBase + ".lock");
  fs::remove(oldBase + ".sock");
}

TEST_F(RootLockTest, AnAnswerFromAnotherUsersSocketIsNotBelieved) {
  const std::string name = Unique("kv-answer");
  NamedLock first;
  ASSERT_EQ(first.Acquire(W(name)), NamedLockResult::Created);
  // The user's socket ends up where root's instance would listen.
  kvtest::ChildProcess squatter;
  const fs::path out = shared_ / "squatter.out";
  ASSERT_TRUE(squatter.Start(user_.As({probe_, "squat", (shared_ / "s").string()}), out.string()));
  ASSERT_TRUE(WaitForText(out, "ready"));
  const std::string sock = InstanceChannel::SocketPathFor(first.LockPath());
  fs::rename(shared_ / "s.sock", sock);
  EXPECT_EQ(AskByHand(sock), "ok\n");  // it does answer anyone

  NamedLock second;
  ASSERT_EQ(second.Acquire(W(name)), NamedLockResult::AlreadyExists);
  EXPECT_FALSE(InstanceChannel::AskPresent(second, std::chrono::milliseconds(500)));
  squatter.Stop(9);
  fs::remove(sock);
}

TEST_F(RootLockTest, AUsersInstanceAnswersOnlyItsOwnUser) {
  const std::string name = Unique("kv-user");
  // The session's runtime folder of the user.
  const fs::path runtime = shared_ / "runtime";
  fs::create_directory(runtime);
  ASSERT_EQ(::chown(runtime.c_str(), user_.uid(), user_.gid()), 0);
  ::chmod(runtime.c_str(), 0700);
  const std::string env = "XDG_RUNTIME_DIR=" + runtime.string();
  kvtest::ChildProcess holder;
  const fs::path out = shared_ / "holder.out";
  ASSERT_TRUE(holder.Start(user_.As({probe_, "lock", name}, {env}), out.string()));
  ASSERT_TRUE(WaitForText(out, "ready"));
  const std::string lockPath = (runtime / ("kvdownloader-" + name + ".lock")).string();
  EXPECT_NE(kvtest::ReadFile(out).find("path=" + lockPath + "\n"), std::string::npos);

  // Root may connect anywhere, but is not the holder's user: hung up on, nothing presented.
  EXPECT_EQ(AskByHand(InstanceChannel::SocketPathFor(lockPath)), "");
  // The user's own second start is answered.
  kvtest::ChildProcess second;
  const fs::path secondOut = shared_ / "second.out";
  ASSERT_TRUE(second.Start(user_.As({probe_, "ask", name}, {env}), secondOut.string()));
  EXPECT_EQ(WEXITSTATUS(second.Wait(std::chrono::seconds(30))), 255);
  EXPECT_EQ(kvtest::ReadFile(secondOut), "exists\nanswered\n");
  // Presented for the user's own question alone.
  const std::string said = kvtest::ReadFile(out);
  EXPECT_NE(said.find("presented"), std::string::npos);
  EXPECT_EQ(said.find("presented"), said.rfind("presented"));
  holder.Stop(9);
}

TEST_F(RootLockTest, AUsersLockFolderIsPrivateAndATakenOneMeansStartAnyway) {
  const std::string name = Unique("kv-folder");
  const std::string tmpFolder = "/tmp/kvdownloader-" + std::to_string(user_.uid());
  fs::remove_all(tmpFolder);  // a stale one of an earlier user with this id
  {
    // No runtime folder of its own (root's /run is not the user's): its private /tmp folder.
    kvtest::ChildProcess holder;
    const fs::path out = shared_ / "holder.out";
    ASSERT_TRUE(
        holder.Start(user_.As({probe_, "lock", name}, {"XDG_RUNTIME_DIR=/run"}), out.string()));
    ASSERT_TRUE(WaitForText(out, "ready"));
    EXPECT_NE(kvtest::ReadFile(out).find("path=" + tmpFolder + "/"), std::string::npos);
    struct stat st = StatOf(tmpFolder);
    EXPECT_EQ(st.st_uid, user_.uid());
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    holder.Stop(9);
  }
  // Someone else took that name, and the user has no home folder: no lock, but no refusal to
  // start either.
  fs::remove_all(tmpFolder);
  fs::create_directory(tmpFolder);
  kvtest::ChildProcess blocked;
  const fs::path out = shared_ / "blocked.out";
  ASSERT_TRUE(blocked.Start(user_.As({probe_, "lock", name}), out.string()));
  EXPECT_EQ(WEXITSTATUS(blocked.Wait(std::chrono::seconds(30))), 1);
  const std::string said = kvtest::ReadFile(out);
  EXPECT_EQ(said.substr(0, 6), "error\n");
  EXPECT_NE(said.find("why=" + tmpFolder + " is not a private folder of ours"), std::string::npos)
      << said;
  fs::remove_all(tmpFolder);
}
