#include "sys/ProcessUtils.h"

#include "platform/Process.h"
#include "platform/TextCodec.h"

bool FindProcess(const std::wstring& exeName, std::uint32_t& pid) {
  if (exeName.empty()) return false;
  // Names are compared whole (longer than 63 characters too) and with case.
  const std::string wanted = platform::WideToLocale(exeName);
  bool found = false;
  platform::ForEachProcess([&](std::uint32_t candidate, const std::string& name) {
    if (name != wanted) return true;
    pid = candidate;
    found = true;
    return false;
  });
  return found;
}

bool KillProcess(std::uint32_t pid) {
  return platform::KillProcess(pid);
}

RunResult ShellOpen(void* hwnd, const std::wstring& target) {
  return platform::OpenWithDefaultHandler(platform::WideToLocale(target));
}

RunResult RunProgram(const std::wstring& path, bool runAsAdmin) {
  return platform::StartDetached(
      platform::WideToLocale(path), {},
      runAsAdmin ? platform::RunAs::Self : platform::RunAs::InteractiveUser);
}
