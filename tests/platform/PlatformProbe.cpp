// Runs one platform operation in a process of its own, for tests that need several processes.
// Usage: PlatformProbe reg-set KEY NAME VALUE | reg-get KEY NAME | reg-many ID COUNT |
//        lock NAME | ask NAME | drop-hooks | squat PATH-WITHOUT-EXTENSION
// "squat" plays a hostile program: it locks PATH.lock and answers "ok" to anyone on PATH.sock.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/Elevation.h"
#include "platform/InstanceChannel.h"
#include "platform/NamedLock.h"
#include "platform/Registry.h"
#include "platform/TextCodec.h"

using namespace platform;

namespace {

std::wstring W(const char* s) {
  return Utf8ToWide(s);
}

int Set(const std::wstring& key, const std::wstring& name, const std::wstring& value) {
  RegistryKey k;
  if (RegistryKey::Create(RegRoot::LocalMachine, key, k) != RegResult::Ok) return 3;
  return k.SetString(name, value) == RegResult::Ok ? 0 : 4;
}

const char* Name(NamedLockResult r) {
  return r == NamedLockResult::Created         ? "created"
         : r == NamedLockResult::AlreadyExists ? "exists"
                                               : "error";
}

int Squat(const std::string& base) {
  int lockFd = ::open((base + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (lockFd < 0 || ::flock(lockFd, LOCK_EX | LOCK_NB) != 0) return 3;
  const std::string sock = base + ".sock";
  ::unlink(sock.c_str());
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", sock.c_str());
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::chmod(sock.c_str(), 0666) != 0 || ::listen(fd, 8) != 0) {
    return 4;
  }
  std::printf("ready\n");
  for (;;) {
    int peer = ::accept(fd, nullptr, nullptr);
    if (peer < 0) continue;
    char buf[16];
    if (::read(peer, buf, sizeof buf) > 0) std::printf("asked\n");
    (void)!::write(peer, "ok\n", 3);
    ::close(peer);
  }
}

}  // namespace

extern char** environ;

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  if (argc < 2) return 2;
  const std::string op = argv[1];
  if (op == "drop-hooks") {
    DropTestHooksWhenElevated();
    for (char** e = environ; *e != nullptr; ++e) std::printf("%s\n", *e);
    return 0;
  }
  if (argc < 3) return 2;
  if (op == "reg-set" && argc == 5) return Set(W(argv[2]), W(argv[3]), W(argv[4]));
  if (op == "reg-get" && argc == 4) {
    RegistryKey k;
    std::wstring value;
    if (RegistryKey::Open(RegRoot::LocalMachine, W(argv[2]), k) != RegResult::Ok) return 3;
    if (k.QueryString(W(argv[3]), value) != RegResult::Ok) return 4;
    std::printf("%s\n", WideToUtf8(value).c_str());
    return 0;
  }
  if (op == "reg-many" && argc == 4) {
    const int count = std::atoi(argv[3]);
    for (int i = 0; i < count; ++i) {
      std::wstring name = W(argv[2]) + L"-" + std::to_wstring(i);
      if (int rc = Set(L"SOFTWARE\\Busy", name, name + L" value \"quoted\"\n"); rc != 0) return rc;
    }
    return 0;
  }
  if (op == "lock") {
    NamedLock lock;
    NamedLockResult r = lock.Acquire(W(argv[2]));
    std::printf("%s\n", Name(r));
    std::printf("path=%s\n", lock.LockPath().c_str());
    if (r == NamedLockResult::Error) std::printf("why=%s\n", lock.ErrorText().c_str());
    if (r != NamedLockResult::Created) return 1;
    InstanceChannel channel;
    if (!channel.Listen(lock, [] { std::printf("presented\n"); })) return 5;
    std::printf("ready\n");
    for (;;) ::pause();  // held until the test ends the process
  }
  if (op == "ask") {
    NamedLock lock;
    NamedLockResult r = lock.Acquire(W(argv[2]));
    std::printf("%s\n", Name(r));
    if (r == NamedLockResult::AlreadyExists) {
      std::printf("%s\n", InstanceChannel::AskPresent(lock) ? "answered" : "unanswered");
      return 255;
    }
    return r == NamedLockResult::Created ? 0 : 1;
  }
  if (op == "squat") return Squat(argv[2]);
  return 2;
}
