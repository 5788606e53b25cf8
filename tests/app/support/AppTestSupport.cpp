#include "tests/app/support/AppTestSupport.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "integrity/PayloadSigning.h"

namespace apptest {

namespace fs = std::filesystem;

bool DownloadServer::Start(std::int64_t rateLimit) {
  fs::create_directories(root_.path() / "download");
  fs::create_directories(root_.path() / "producturl");
  kvtest::WriteFile(root_.path() / "producturl/index.html", "<html>page</html>\n");
  // nginx's workers run as another user when the tests run as root.
  fs::permissions(root_.path(),
                  fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
  const std::string flag = (root_.path() / "failing.flag").string();
  kvtest::NginxOptions options;
  options.root = root_.path();
  options.extraHttpConfig =
      "  log_format kvranges '$msec $request_method $request_uri $status [$http_range] "
      "$body_bytes_sent';\n"
      "  access_log " +
      (root_.path() / "requests.log").string() + " kvranges;\n";
  // The rate limit sits outside the location: nginx drops it there once an "if" is present.
  options.extraServerConfig =
      (rateLimit > 0 ? "    limit_rate " + std::to_string(rateLimit) + ";\n" : std::string()) +
      "    location /download/ {\n      if (-f " + flag +
      ") { return 403; }\n    }\n"
      "    location /producturl { try_files /producturl/index.html =404; }\n";
  return nginx_.Start(options);
}

void DownloadServer::AddFile(const std::string& name, const std::string& bytes) {
  AddFile(name, bytes, BuildSigningKey());
}

void DownloadServer::AddFile(const std::string& name, const std::string& bytes,
                             const fs::path& signingKey) {
  const fs::path file = root_.path() / "download" / name;
  kvtest::WriteFile(file, bytes);
  std::error_code ec;
  fs::remove(file.string() + ".sig", ec);
  if (signingKey.empty()) return;
  std::string error;
  if (!integrity::SignPayloadFile(signingKey.string(), file.string(), error)) {
    std::fprintf(stderr, "cannot sign %s: %s\n", file.c_str(), error.c_str());
  }
}

void DownloadServer::ReplaceBytes(const std::string& name, const std::string& bytes) {
  kvtest::WriteFile(root_.path() / "download" / name, bytes);
}

fs::path BuildSigningKey() {
  return KV_TEST_SIGNING_KEY;
}

void DownloadServer::AddSparseFile(const std::string& name, std::int64_t size) {
  std::ofstream(root_.path() / "download" / name).close();
  fs::resize_file(root_.path() / "download" / name, static_cast<std::uintmax_t>(size));
}

std::string DownloadServer::Url(const std::string& name) const {
  return nginx_.BaseUrl() + "/download/" + name;
}

void DownloadServer::SetFailing(bool failing) {
  const fs::path flag = root_.path() / "failing.flag";
  if (failing) {
    kvtest::WriteFile(flag, "1");
  } else {
    std::error_code ec;
    fs::remove(flag, ec);
  }
}

std::vector<std::string> DownloadServer::RequestLog() const {
  std::vector<std::string> lines;
  std::ifstream in(root_.path() / "requests.log");
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::int64_t DownloadServer::BytesServed() const {
  std::int64_t total = 0;
  for (const std::string& line : RequestLog()) {
    if (line.find(" /download/") == std::string::npos) continue;
    total += std::stoll(line.substr(line.rfind(' ') + 1));
  }
  return total;
}

PrivateDir::PrivateDir() {
  const fs::path base = kvtest::BinaryDir() / "tests" / "app" / "scratch";
  fs::create_directories(base);
  std::string name = (base / "run-XXXXXX").string();
  if (char* made = mkdtemp(name.data())) path_ = made;
  // Other users (nginx's workers, the program run as a test user) may pass through.
  fs::permissions(path_, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
}

PrivateDir::~PrivateDir() {
  std::error_code ec;
  if (!path_.empty()) fs::remove_all(path_, ec);
}

void WriteUrlIni(const fs::path& path, const std::map<std::string, std::string>& commonUrls) {
  std::string text = "[CommonUrl]\r\n";
  for (const auto& [key, value] : commonUrls) text += key + "=" + value + "\r\n";
  std::string bytes = "\xFF\xFE";
  for (unsigned char c : text) {
    bytes += static_cast<char>(c);
    bytes += '\0';
  }
  kvtest::WriteFile(path, bytes);
}

RecordingOpener::RecordingOpener() {
  fs::create_directories(BinDir());
  // The program may run as another user than the test: it must reach the script and the list.
  fs::permissions(dir_.path(),
                  fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
  kvtest::WriteFile(dir_.path() / "opened.txt", "");
  fs::permissions(dir_.path() / "opened.txt", fs::perms::owner_read | fs::perms::owner_write |
                                                  fs::perms::group_read | fs::perms::group_write |
                                                  fs::perms::others_read | fs::perms::others_write);
  const fs::path script = BinDir() / "xdg-open";
  kvtest::WriteFile(script, "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" +
                                (dir_.path() / "opened.txt").string() + "'\n");
  fs::permissions(script, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
}

std::string RecordingOpener::PathValue() const {
  const char* path = std::getenv("PATH");
  return BinDir().string() + ":" + (path != nullptr ? path : "/usr/bin:/bin");
}

std::vector<std::string> RecordingOpener::Opened() const {
  std::vector<std::string> lines;
  std::ifstream in(dir_.path() / "opened.txt");
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

bool RecordingOpener::WaitForOpened(std::size_t count, std::chrono::milliseconds timeout) const {
  return WaitUntil([&] { return Opened().size() >= count; }, timeout);
}

LogTail::LogTail(fs::path file) : file_(std::move(file)) {
  std::error_code ec;
  start_ = fs::file_size(file_, ec);
  if (ec) start_ = 0;
}

std::vector<std::string> LogTail::Lines() const {
  std::ifstream in(file_, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(start_));
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    // "[ ]YYYY-MM-DD HH:MM:SS,mmm message"
    std::size_t begin = line.find_first_not_of(' ');
    if (begin != std::string::npos && line.size() > begin + 24 && line[begin + 4] == '-') {
      line = line.substr(begin + 24);
    }
    lines.push_back(line);
  }
  return lines;
}

int LogTail::IndexOf(const std::string& text) const {
  const std::vector<std::string> lines = Lines();
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].find(text) != std::string::npos) return static_cast<int>(i);
  }
  return -1;
}

bool LogTail::Contains(const std::string& text) const {
  return IndexOf(text) >= 0;
}

bool LogTail::WaitFor(const std::string& text, std::chrono::milliseconds timeout) const {
  return WaitUntil([&] { return Contains(text); }, timeout);
}

TestUser::TestUser() {
  if (geteuid() != 0) return;
  name_ = "kvapp" + std::to_string(getpid());
  const std::string add =
      "useradd --system --no-create-home --shell /usr/sbin/nologin " + name_ + " >/dev/null 2>&1";
  if (std::system(add.c_str()) != 0) return;
  if (const passwd* pw = getpwnam(name_.c_str())) {
    uid_ = static_cast<int>(pw->pw_uid);
    gid_ = static_cast<int>(pw->pw_gid);
  }
}

TestUser::~TestUser() {
  if (name_.empty()) return;
  const std::string del = "userdel " + name_ + " >/dev/null 2>&1";
  if (std::system(del.c_str()) != 0)
    std::fprintf(stderr, "cannot remove the user %s\n", name_.c_str());
}

void TestUser::Own(const fs::path& folder) const {
  if (!valid()) return;
  std::error_code ec;
  if (chown(folder.c_str(), static_cast<uid_t>(uid_), static_cast<gid_t>(gid_)) != 0) return;
  for (const auto& entry : fs::recursive_directory_iterator(folder, ec)) {
    if (lchown(entry.path().c_str(), static_cast<uid_t>(uid_), static_cast<gid_t>(gid_)) != 0) {
      return;
    }
  }
}

bool WaitUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (!pred()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

}  // namespace apptest
