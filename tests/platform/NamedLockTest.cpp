#include "platform/NamedLock.h"

// What the test itself uses.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <set>
#include <thread>

#include "platform/InstanceChannel.h"
#include "tests/support/TestSupport.h"

namespace fs = std::filesystem;
using platform::NamedLock;
using platform::NamedLockResult;

namespace {

class NamedLockTest : public ::testing::Test {
 protected:
  void SetUp() override { ::setenv("XDG_RUNTIME_DIR", dir_.path().c_str(), 1); }
  void TearDown() override { ::unsetenv("XDG_RUNTIME_DIR"); }

  // Waits until `file` holds `text`.
  static bool WaitForText(const fs::path& file, const std::string& text) {
    for (int i = 0; i < 200; ++i) {
      if (fs::exists(file) && kvtest::ReadFile(file).find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return false;
  }

  kvtest::TempDir dir_;
};

}  // namespace

TEST_F(NamedLockTest, SecondHolderIsToldItExistsUntilTheFirstEnds) {
  kvtest::ChildProcess holder;
  fs::path out = dir_ / "holder.out";
  std::map<std::string, std::string> env{{"XDG_RUNTIME_DIR", dir_.path().string()}};
  ASSERT_TRUE(holder.Start({KV_PLATFORM_PROBE, "lock", "KV Setup \u00e9/1"}, out.string(), env));
  ASSERT_TRUE(WaitForText(out, "ready"));

  NamedLock second;
  EXPECT_EQ(second.Acquire(L"KV Setup \u00e9/1"), NamedLockResult::AlreadyExists);
  EXPECT_EQ(fs::path(second.LockPath()).parent_path(), dir_.path());
  NamedLock other;
  EXPECT_EQ(other.Acquire(L"KV Setup \u00e9/2"), NamedLockResult::Created);

  // The second instance's request reaches the first, which answers.
  EXPECT_TRUE(platform::InstanceChannel::AskPresent(second));
  EXPECT_TRUE(WaitForText(out, "presented"));

  holder.Stop(9);  // even a killed holder releases the lock
  NamedLock third;
  EXPECT_EQ(third.Acquire(L"KV Setup \u00e9/1"), NamedLockResult::Created);
  // Nobody listens now: the question goes unanswered instead of hanging.
  NamedLock fourth;
  EXPECT_EQ(fourth.Acquire(L"KV Setup \u00e9/1"), NamedLockResult::AlreadyExists);
  EXPECT_FALSE(platform::InstanceChannel::AskPresent(fourth, std::chrono::milliseconds(300)));
}

TEST_F(NamedLockTest, SecondProcessAsksAndExitsWith255) {
  NamedLock first;
  ASSERT_EQ(first.Acquire(L"probe-app"), NamedLockResult::Created);
  int presented = 0;
  platform::InstanceChannel channel;
  ASSERT_TRUE(channel.Listen(first, [&] { ++presented; }));
  EXPECT_FALSE(channel.Listen(first, [] {}));

  kvtest::ChildProcess second;
  fs::path out = dir_ / "second.out";
  ASSERT_TRUE(second.Start({KV_PLATFORM_PROBE, "ask", "probe-app"}, out.string(),
                           {{"XDG_RUNTIME_DIR", dir_.path().string()}}));
  int status = second.Wait(std::chrono::seconds(30));
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 255);
  EXPECT_EQ(kvtest::ReadFile(out), "exists\nanswered\n");
  // A peer that connects and says nothing holds the listener up only briefly.
  int silent = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::string sock = platform::InstanceChannel::SocketPathFor(first.LockPath());
  std::memcpy(addr.sun_path, sock.c_str(), sock.size() + 1);
  ASSERT_EQ(::connect(silent, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  NamedLock another;
  EXPECT_EQ(another.Acquire(L"probe-app"), NamedLockResult::AlreadyExists);
  EXPECT_TRUE(platform::InstanceChannel::AskPresent(another, std::chrono::seconds(5)));
  ::close(silent);

  channel.Stop();
  EXPECT_EQ(presented, 2);
  EXPECT_FALSE(fs::exists(platform::InstanceChannel::SocketPathFor(first.LockPath())));
}

TEST_F(NamedLockTest, NamesThatDifferOnlyInUnsafeCharactersGetTheirOwnFiles) {
  std::set<std::string> paths;
  for (const wchar_t* n : {L"a/b", L"a_b", L"a%2Fb", L"a b", L"..", L".", L"\u4e2d"}) {
    std::string p = NamedLock::PathFor(n);
    EXPECT_EQ(fs::path(p).parent_path(), dir_.path()) << p;
    paths.insert(p);
  }
  EXPECT_EQ(paths.size(), 7u);
  // Very long names still make valid file and socket names.
  std::wstring longName(600, L'x');
  NamedLock a, b;
  EXPECT_EQ(a.Acquire(longName), NamedLockResult::Created);
  EXPECT_EQ(b.Acquire(longName), NamedLockResult::AlreadyExists);
  EXPECT_LT(platform::InstanceChannel::SocketPathFor(a.LockPath()).size(), 108u);
}
