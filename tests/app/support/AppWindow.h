// The real program on a private X display (Xvfb): started with the test's environment, its
// window found, clicked and closed with real X input, photographed, and its exit awaited.
#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"
#include "tests/ui/XvfbDisplay.h"

namespace apptest {

// Where a run of the program keeps its files; shared by the runs of one test.
struct AppSandbox {
  kvtest::TempDir root;
  std::filesystem::path ProgramFiles() const { return root.path() / "pf"; }
  std::filesystem::path UrlIni() const { return root.path() / "url.ini"; }
  // The work folder of an executable named `exeName`.
  std::filesystem::path WorkFolder(const std::string& exeName) const;
  std::filesystem::path LogFile(const std::string& exeName) const;
};

class AppWindow {
 public:
  AppWindow(const uitest::XvfbDisplay& display, const AppSandbox& sandbox);
  ~AppWindow();

  // Starts `exe` (default: the built kvdownloader) with the sandbox's environment plus
  // `extraEnv`; its output goes to Output(). A test running as root runs it as an unprivileged
  // user made for the tests (the sandbox becomes that user's) unless RunAsRoot was called.
  bool Start(const std::map<std::string, std::string>& extraEnv = {},
             const std::filesystem::path& exe = {});
  // The main window's X id once it is shown ("" after the time-out).
  std::string WaitForWindow(std::chrono::milliseconds timeout = std::chrono::seconds(20));
  // A visible dialog of the program besides the main window ("" after the time-out).
  std::string WaitForDialog(std::chrono::milliseconds timeout = std::chrono::seconds(20));
  // A press and release of the left button at a point of the main window.
  void Click(int x, int y);
  // Answers a dialog with its button `index` (0 is the first, which has the keyboard focus) by
  // keys: Right moves the focus along the buttons, Return presses.
  void PressDialogButton(const std::string& dialog, int index);
  // The close request a window manager would send.
  bool RequestClose();
  bool Screenshot(const std::filesystem::path& png) const;
  // The exit code, -1 when the program is still running after the time-out.
  int WaitExit(std::chrono::milliseconds timeout = std::chrono::seconds(20));
  bool Running() { return proc_.Running(); }
  pid_t Pid() const { return proc_.pid(); }
  // The next Start runs the program as the test's own user (root).
  void RunAsRoot() { runAsTestUser_ = false; }
  std::string Output() const;
  const std::string& window() const { return window_; }
  // X ids of the visible windows with a class (titles may be unreadable in a locale the C
  // library lacks).
  std::vector<std::string> VisibleWindows() const;

  // The built program and the helper that sends close requests.
  static std::filesystem::path ProgramPath();
  static std::filesystem::path SendClosePath();

 private:
  const uitest::XvfbDisplay& display_;
  const AppSandbox& sandbox_;
  kvtest::ChildProcess proc_;
  kvtest::TempDir outputDir_;
  std::string window_;
  bool runAsTestUser_ = true;
};

}  // namespace apptest
