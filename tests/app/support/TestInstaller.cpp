// kv_test_installer: an installer whose behaviour the test chooses through the environment the
// program hands down, for the installer-run tests.
//   KV_TEST_INSTALLER       ok (default) | exit1 | nothing | work
//   KV_TEST_INSTALLER_LOG   a file that receives the arguments, one per line, and a line
//                           "progress file present" or "progress file absent" as found at start
//   KV_TEST_INSTALLER_HOLD  a file: the installer writes KV_TEST_INSTALLER_PROGRESS (if set) and
//                           waits until this file exists before it goes on
//   KV_TEST_PRODUCT_LOG     the product "ok" installs is a script that writes its uid here
// "ok" puts the product at <path>/<KV_TEST_PRODUCT_PATH> and ends with 0; "exit1" installs it
// and ends with 1; "nothing" ends with 0 and installs nothing; "work" starts a copy of itself
// named korvana-download.tmp that sleeps, and waits for it.
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "platform/Process.h"

namespace {

namespace fs = std::filesystem;

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

std::string Value(int argc, char** argv, const std::string& prefix) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a.rfind(prefix, 0) == 0) return a.substr(prefix.size());
  }
  return "";
}

void WaitForFile(const std::string& path) {
  while (!path.empty() && !fs::exists(path)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

bool InstallProduct(const std::string& folder) {
  const fs::path exe = fs::path(folder) / Env("KV_TEST_PRODUCT_PATH");
  std::error_code ec;
  fs::create_directories(exe.parent_path(), ec);
  std::ofstream(exe) << "#!/bin/sh\nid -u > '" << Env("KV_TEST_PRODUCT_LOG") << "'\n";
  fs::permissions(exe,
                  fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                      fs::perms::others_read | fs::perms::others_exec,
                  ec);
  return !ec;
}

}  // namespace

int main(int argc, char** argv) {
  if (fs::path(argv[0]).filename() == "korvana-download.tmp") {
    std::this_thread::sleep_for(std::chrono::seconds(60));
    return 0;
  }
  const std::string folder = Value(argc, argv, "/path=");
  const std::string progress = Value(argc, argv, "/progress=");
  if (const std::string log = Env("KV_TEST_INSTALLER_LOG"); !log.empty()) {
    std::ofstream out(log);
    for (int i = 1; i < argc; ++i) out << argv[i] << "\n";
    out << "progress file " << (fs::exists(progress) ? "present" : "absent") << "\n";
  }
  if (const std::string value = Env("KV_TEST_INSTALLER_PROGRESS"); !value.empty()) {
    std::ofstream(progress) << value;
  }
  WaitForFile(Env("KV_TEST_INSTALLER_HOLD"));

  const std::string mode = Env("KV_TEST_INSTALLER");
  if (mode == "nothing") return 0;
  if (mode == "work") {
    const fs::path copy = fs::path(folder) / "korvana-download.tmp";
    std::error_code ec;
    fs::copy_file("/proc/self/exe", copy, fs::copy_options::overwrite_existing, ec);
    const pid_t pid = platform::StartProcess(copy.string(), {});
    return pid > 0 ? platform::WaitProcess(pid) : 1;
  }
  if (!InstallProduct(folder)) return 1;
  return mode == "exit1" ? 1 : 0;
}
