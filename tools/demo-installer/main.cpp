// The demo product's installer, run by the downloader:
//   demo-installer /verysilent /korvana_down /wait_run /path=FOLDER/ /progress=FILE
// As real installers do, the first process copies itself to a private folder under the name
// "korvana-download.tmp", lets that copy do the work and waits for it. The copy writes its
// progress (0-100) into FILE, puts the product at FOLDER/DIR1/DIR2/EXE with its icon beside it,
// and adds a desktop entry (the user's, or the system's when run as root). Exit status 0 when
// the product is installed, 1 when the installation failed, 2 for a wrong command line.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/Process.h"
#include "platform/Resources.h"

namespace {

namespace fs = std::filesystem;

constexpr char kWorkerName[] = "korvana-download.tmp";
constexpr int kResIdProduct = 1;
constexpr int kResIdIcon = 2;

struct Options {
  std::string folder;
  std::string progressFile;
};

// Exactly the five switches, each once, in any order.
bool ParseArguments(int argc, char** argv, Options& o) {
  if (argc != 6) return false;
  bool silent = false, down = false, wait = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "/verysilent" && !silent) {
      silent = true;
    } else if (a == "/korvana_down" && !down) {
      down = true;
    } else if (a == "/wait_run" && !wait) {
      wait = true;
    } else if (a.rfind("/path=", 0) == 0 && o.folder.empty() && a.size() > 6) {
      o.folder = a.substr(6);
    } else if (a.rfind("/progress=", 0) == 0 && o.progressFile.empty() && a.size() > 10) {
      o.progressFile = a.substr(10);
    } else {
      return false;
    }
  }
  if (o.folder.back() != '/') o.folder += '/';
  return silent && down && wait && o.folder.front() == '/';
}

// Replaces the file whole, so a reader sees the old or the new content.
bool WriteFileAtomically(const fs::path& path, const void* data, std::size_t size, fs::perms mode) {
  const fs::path temp = path.string() + ".part";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!out) return false;
  }
  std::error_code ec;
  fs::permissions(temp, mode, ec);
  if (!ec) fs::rename(temp, path, ec);
  if (ec) fs::remove(temp, ec);
  return !ec;
}

void WriteProgress(const std::string& file, int percent) {
  const std::string text = std::to_string(percent);
  WriteFileAtomically(file, text.data(), text.size(),
                      fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                          fs::perms::others_read);
}

std::string DesktopFolder() {
  if (geteuid() == 0) return "/usr/local/share/applications/";
  if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && *data == '/') {
    return std::string(data) + "/applications/";
  }
  const char* home = std::getenv("HOME");
  return home != nullptr && *home == '/' ? std::string(home) + "/.local/share/applications/" : "";
}

// "Korvana Lumenstack" -> "korvana-lumenstack"
std::string EntryName() {
  std::string name = KV_DEMO_PRODUCT_NAME;
  for (char& c : name) {
    c = c == ' ' ? '-' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return name;
}

bool WriteDesktopEntry(const fs::path& exe, const fs::path& icon) {
  const std::string folder = DesktopFolder();
  if (folder.empty()) return false;
  std::error_code ec;
  fs::create_directories(folder, ec);
  const std::string entry = std::string("[Desktop Entry]\nType=Application\nName=") +
                            KV_DEMO_PRODUCT_NAME + "\nExec=\"" + exe.string() +
                            "\"\nIcon=" + icon.string() + "\nTerminal=false\nCategories=Utility;\n";
  return WriteFileAtomically(folder + EntryName() + ".desktop", entry.data(), entry.size(),
                             fs::perms::owner_read | fs::perms::owner_write |
                                 fs::perms::group_read | fs::perms::others_read);
}

bool InstallProduct(const Options& o) {
  const platform::ResourceBytes product = platform::FindResource("RCDATA", kResIdProduct);
  const platform::ResourceBytes icon = platform::FindResource("RCDATA", kResIdIcon);
  if (!product || !icon) return false;
  const fs::path folder = fs::path(o.folder) / KV_DEMO_DIR1 / KV_DEMO_DIR2;
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec) {
    std::fprintf(stderr, "demo-installer: cannot make %s: %s\n", folder.c_str(),
                 ec.message().c_str());
    return false;
  }
  const fs::path exe = folder / KV_DEMO_EXE;
  const fs::path iconFile = folder / (std::string(KV_DEMO_EXE) + ".png");
  const fs::perms program = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                            fs::perms::others_read | fs::perms::others_exec;
  const fs::perms data = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                         fs::perms::others_read;
  return WriteFileAtomically(exe, product.data, product.size, program) &&
         WriteFileAtomically(iconFile, icon.data, icon.size, data) &&
         WriteDesktopEntry(exe, iconFile);
}

// The work process: progress over about two seconds, the files half-way.
int Work(const Options& o) {
  bool installed = false;
  for (int percent = 0; percent <= 100; percent += 5) {
    if (percent == 50) {
      installed = InstallProduct(o);
      if (!installed) return 1;
    }
    WriteProgress(o.progressFile, percent);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return installed ? 0 : 1;
}

// The first process: a copy of itself under the work process's name does the work.
int Launch(const std::vector<std::string>& args) {
  const char* tmp = std::getenv("TMPDIR");
  std::string folder =
      std::string(tmp != nullptr && *tmp == '/' ? tmp : "/tmp") + "/kvdemo-setup-XXXXXX";
  if (mkdtemp(folder.data()) == nullptr) return 1;
  const fs::path worker = fs::path(folder) / kWorkerName;
  std::error_code ec;
  fs::copy_file("/proc/self/exe", worker, ec);
  int code = 1;
  if (!ec) {
    fs::permissions(worker, fs::perms::owner_all, ec);
    const pid_t pid = platform::StartProcess(worker.string(), args);
    if (pid > 0) code = platform::WaitProcess(pid);
  }
  fs::remove_all(folder, ec);
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseArguments(argc, argv, options)) {
    std::fprintf(stderr,
                 "usage: demo-installer /verysilent /korvana_down /wait_run /path=FOLDER/ "
                 "/progress=FILE\n");
    return 2;
  }
  if (fs::path(argv[0]).filename() == kWorkerName) return Work(options);
  return Launch(std::vector<std::string>(argv + 1, argv + argc));
}
