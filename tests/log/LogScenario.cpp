// A program that logs one scenario and exits, so each scenario starts with a fresh process
// (the log state is process-wide). Usage: LogScenario <scenario> [folder]
#include <fcntl.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "log/Log.h"

namespace {

std::wstring Wide(const std::string& s) {
  return std::wstring(s.begin(), s.end());
}

struct Widget {
  void Report(int value) { LOGA(LogLevelInfo, "widget %d", value); }
  void Fault() { LOGA(LogLevelInfo, "bad %ls", L"\xD800"); }
  void WideFault() { LOGW(LogLevelWarn, L"bad %s", "\xff\xfe"); }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const std::string scenario = argv[1];
  const std::string folder = argc > 2 ? argv[2] : "";

  if (scenario == "defaults") {
    LOGA(LogLevelInfo, "before init %d", 1);
    LogInit(L"other.log", Wide(folder).c_str());
    LOGA(LogLevelInfo, "after init %d", 2);
  } else if (scenario == "init-twice") {
    LogInit(L"first.log", Wide(folder + "/one").c_str());
    LogInit(L"second.log", Wide(folder + "/two").c_str());
    LOGW(LogLevelInfo, L"line %d %ls %s", 1, L"wide", L"also wide");
    LOGA(LogLevelInfo, "line %d %s", 2, "narrow");
    LOGW(LogLevelInfo, L"%ls|%s", L"\u041f\u0440\u0438\u0432\u0435\u0442", "\xd0\x96");
    LOGW(LogLevelInfo, L"a%lsb", L"\xD800");
  } else if (scenario == "levels") {
    LogInit(L"levels.log", Wide(folder).c_str());
    LOGA(LogLevelDebug, "debug");
    LOGA(LogLevelInfo, "info");
    LOGA(LogLevelWarn, "warn");
    LOGA(LogLevelError, "error");
    LOGA(static_cast<LogLevel>(7), "unknown level");
    LogWrite(static_cast<LogLevel>(-1), "negative level");
  } else if (scenario == "empty") {
    LogInit(L"empty.log", Wide(folder).c_str());
    LogPrintA("f", __FILE__, __LINE__, LogLevelInfo, nullptr);
    LogPrintW(L"f", L"file", __LINE__, LogLevelInfo, nullptr);
    LogPrintW(L"f", L"file", __LINE__, LogLevelInfo, L"");
    LOGA(LogLevelInfo, "%s", "");
    LOGW(LogLevelInfo, L"%ls", L"");
    LogWrite(LogLevelInfo, "");
  } else if (scenario == "fault") {
    LogInit(L"fault.log", Wide(folder).c_str());
    Widget w;
    w.Report(5);
    w.Fault();
    w.WideFault();
    w.Report(6);
  } else if (scenario == "roll") {
    // Argument 3: how many 1000-byte messages to write.
    LogInit(L"roll.log", Wide(folder).c_str());
    const int count = argc > 3 ? std::atoi(argv[3]) : 0;
    const std::string pad(990, 'x');
    for (int i = 0; i < count; ++i) LOGA(LogLevelInfo, "%06d %s", i, pad.c_str());
  } else if (scenario == "threads") {
    LogInit(L"threads.log", Wide(folder).c_str());
    auto work = [](char tag) {
      for (int i = 0; i < 10000; ++i) LOGA(LogLevelInfo, "%c%05d end", tag, i);
    };
    std::thread a(work, 'a');
    std::thread b(work, 'b');
    a.join();
    b.join();
  } else if (scenario == "descriptor") {
    // Prints how the log file's descriptor is flagged.
    LogInit(L"fd.log", Wide(folder).c_str());
    LOGA(LogLevelInfo, "open");
    for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) {
      std::error_code ec;
      if (std::filesystem::read_symlink(e.path(), ec).filename() != "fd.log") continue;
      int flags = ::fcntl(std::stoi(e.path().filename().string()), F_GETFD);
      std::printf("cloexec=%d\n", (flags & FD_CLOEXEC) != 0);
    }
  } else {
    return 2;
  }
  std::printf("%s\n", LogFilePath().c_str());
  return 0;
}
