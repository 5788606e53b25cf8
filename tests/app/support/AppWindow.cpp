#include "tests/app/support/AppWindow.h"

#include <sys/wait.h>

#include <cstdlib>
#include <sstream>
#include <thread>

#include "tests/app/support/AppTestSupport.h"

namespace apptest {

namespace fs = std::filesystem;

fs::path AppSandbox::WorkFolder(const std::string& exeName) const {
  return ProgramFiles() / "korvana_down" / exeName;
}

fs::path AppSandbox::LogFile(const std::string& exeName) const {
  return WorkFolder(exeName) / "Log" / "korvana_down.log";
}

AppWindow::AppWindow(const uitest::XvfbDisplay& display, const AppSandbox& sandbox)
    : display_(display), sandbox_(sandbox) {}

AppWindow::~AppWindow() {
  if (proc_.pid() > 0) proc_.Stop(SIGKILL);
}

namespace {

// When the tests run as root, the program runs as a user made for them, as a user would run it.
const TestUser& ProgramUser() {
  static const TestUser user;
  return user;
}

}  // namespace

fs::path AppWindow::ProgramPath() {
  return kvtest::BinaryDir() / "app" / "kvdownloader";
}

fs::path AppWindow::SendClosePath() {
  return kvtest::BinaryDir() / "tests" / "app" / "kv_send_close";
}

bool AppWindow::Start(const std::map<std::string, std::string>& extraEnv, const fs::path& exe) {
  fs::create_directories(sandbox_.ProgramFiles());
  fs::create_directories(sandbox_.root.path() / "home");
  fs::create_directories(sandbox_.root.path() / "run");
  fs::permissions(sandbox_.root.path() / "run", fs::perms::owner_all);
  std::map<std::string, std::string> env = {
      {"DISPLAY", display_.name()},
      {"GDK_BACKEND", "x11"},
      {"NO_AT_BRIDGE", "1"},
      {"DBUS_SESSION_BUS_ADDRESS", "disabled:"},
      {"HOME", (sandbox_.root.path() / "home").string()},
      {"XDG_RUNTIME_DIR", (sandbox_.root.path() / "run").string()},
      {"KV_PROGRAM_FILES", sandbox_.ProgramFiles().string()},
      {"KV_TEST_URL_INI", sandbox_.UrlIni().string()},
      {"KV_TEST_ANALYTICS_URL", "http://127.0.0.1:9/mp/collect"},
      {"KV_TEST_DOWNLOAD_TIMEOUT", "2"},
  };
  for (const auto& [key, value] : extraEnv) env[key] = value;
  const fs::path program = exe.empty() ? ProgramPath() : exe;
  std::vector<std::string> argv = {program.string()};
  if (runAsTestUser_ && ProgramUser().valid()) {
    ProgramUser().Own(sandbox_.root.path());
    argv.insert(argv.begin(), {"setpriv", "--reuid=" + std::to_string(ProgramUser().uid()),
                               "--regid=" + std::to_string(ProgramUser().gid()), "--clear-groups"});
  }
  return proc_.Start(argv, (outputDir_.path() / "output.txt").string(), env);
}

std::string AppWindow::Output() const {
  std::error_code ec;
  if (!fs::exists(outputDir_.path() / "output.txt", ec)) return "";
  return kvtest::ReadFile(outputDir_.path() / "output.txt");
}

std::vector<std::string> AppWindow::VisibleWindows() const {
  std::vector<std::string> ids;
  std::istringstream in(uitest::RunX(display_, "xdotool search --onlyvisible --class '.'"));
  for (std::string id; std::getline(in, id);) {
    if (!id.empty()) ids.push_back(id);
  }
  return ids;
}

namespace {

bool IsMainFrame(const uitest::XvfbDisplay& display, const std::string& id) {
  return uitest::RunX(display, "xprop -id " + id + " WM_WINDOW_ROLE").find("\"KVMainFrame\"") !=
         std::string::npos;
}

}  // namespace

std::string AppWindow::WaitForWindow(std::chrono::milliseconds timeout) {
  WaitUntil(
      [&] {
        for (const std::string& id : VisibleWindows()) {
          if (IsMainFrame(display_, id)) {
            window_ = id;
            return true;
          }
        }
        return false;
      },
      timeout);
  return window_;
}

std::string AppWindow::WaitForDialog(std::chrono::milliseconds timeout) {
  std::string dialog;
  WaitUntil(
      [&] {
        for (const std::string& id : VisibleWindows()) {
          if (!IsMainFrame(display_, id)) {
            dialog = id;
            return true;
          }
        }
        return false;
      },
      timeout);
  return dialog;
}

void AppWindow::Click(int x, int y) {
  uitest::RunX(display_, "xdotool mousemove --window " + window_ + " " + std::to_string(x) + " " +
                             std::to_string(y) + " click 1");
}

void AppWindow::PressDialogButton(const std::string& dialog, int index) {
  std::string keys;
  for (int i = 0; i < index; ++i) keys += " Right";
  uitest::RunX(display_, "xdotool windowfocus --sync " + dialog + " key" + keys + " Return");
}

bool AppWindow::RequestClose() {
  int status = -1;
  uitest::RunX(display_, SendClosePath().string() + " " + window_, &status);
  return status == 0;
}

bool AppWindow::Screenshot(const fs::path& png) const {
  int status = -1;
  uitest::RunX(display_, "import -window root " + png.string(), &status);
  // KV_TEST_SCREENSHOTS keeps a copy for a person to look at.
  if (const char* keep = std::getenv("KV_TEST_SCREENSHOTS"); keep != nullptr && status == 0) {
    std::error_code ec;
    fs::create_directories(keep, ec);
    fs::copy_file(png, fs::path(keep) / png.filename(), fs::copy_options::overwrite_existing, ec);
  }
  return status == 0;
}

int AppWindow::WaitExit(std::chrono::milliseconds timeout) {
  const int status = proc_.Wait(timeout);
  if (status == -1 && proc_.pid() > 0) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace apptest
