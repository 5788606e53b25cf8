#include "tests/ui/XvfbDisplay.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <thread>

namespace uitest {

XvfbDisplay::~XvfbDisplay() {
  if (proc_.pid() > 0) proc_.Stop();
}

bool XvfbDisplay::Start(int width, int height) {
  const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
  for (int n = 90 + getpid() % 50; n < 400; ++n) {
    std::string lock = "/tmp/.X" + std::to_string(n) + "-lock";
    std::string sock = "/tmp/.X11-unix/X" + std::to_string(n);
    if (std::filesystem::exists(lock) || std::filesystem::exists(sock)) continue;
    name_ = ":" + std::to_string(n);
    if (!proc_.Start({"Xvfb", name_, "-screen", "0", screen, "-nolisten", "tcp", "-noreset"})) {
      return false;
    }
    for (int i = 0; i < 100; ++i) {
      if (std::filesystem::exists(sock)) return true;
      if (!proc_.Running()) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    proc_.Stop();
  }
  return false;
}

std::string RunX(const XvfbDisplay& display, const std::string& command, int* status) {
  std::string full = "DISPLAY=" + display.name() + " " + command + " 2>/dev/null";
  FILE* p = popen(full.c_str(), "r");
  if (p == nullptr) return "";
  std::string out;
  char buf[512];
  while (std::fgets(buf, sizeof buf, p)) out += buf;
  int rc = pclose(p);
  if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
  return out;
}

std::string FindXWindow(const XvfbDisplay& display, const std::string& namePattern,
                        std::chrono::milliseconds timeout) {
  auto end = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < end) {
    std::string ids = RunX(display, "xdotool search --onlyvisible --name '" + namePattern + "'");
    if (!ids.empty()) return ids.substr(0, ids.find('\n'));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return "";
}

}  // namespace uitest
