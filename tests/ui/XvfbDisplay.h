// A private X display for window tests: Xvfb on a free display number, started by the test
// and stopped with it, plus small xdotool helpers.
#pragma once

#include <chrono>
#include <string>

#include "tests/support/TestSupport.h"

namespace uitest {

class XvfbDisplay {
 public:
  XvfbDisplay() = default;
  ~XvfbDisplay();
  // Starts Xvfb with a screen of that size (1280x1024 unless given) and waits for its socket.
  bool Start(int width = 1280, int height = 1024);
  // ":N"
  const std::string& name() const { return name_; }

 private:
  kvtest::ChildProcess proc_;
  std::string name_;
};

// Runs a command with DISPLAY set to the display; returns its standard output (trimmed),
// and the exit status in *status when given.
std::string RunX(const XvfbDisplay& display, const std::string& command, int* status = nullptr);

// The id of the first window whose name matches the pattern, polling up to timeout; "" if none.
std::string FindXWindow(const XvfbDisplay& display, const std::string& namePattern,
                        std::chrono::milliseconds timeout);

}  // namespace uitest
