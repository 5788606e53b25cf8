// What the installer's tests share: the download server (nginx with a ranges log and a switch
// that makes it fail), the URL configuration the program is pointed at, a recording stand-in
// for the desktop's opener, and reading the program's log.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"

namespace apptest {

// nginx on 127.0.0.1 serving files under /download/ and the pages under /producturl. Every
// request is logged as "METHOD URI STATUS [RANGE] BYTES"; while failing, new requests for
// /download/ are refused with 403, which ends the engine's connections for good.
class DownloadServer {
 public:
  // rateLimit: bytes per second per connection (nginx limit_rate), 0 for none.
  bool Start(std::int64_t rateLimit = 0);
  // Writes a file to serve at /download/<name> with its statement <name>.sig, signed with the
  // build's demo key (BuildSigningKey).
  void AddFile(const std::string& name, const std::string& bytes);
  // The same, signed with another key ("" for no statement at all).
  void AddFile(const std::string& name, const std::string& bytes,
               const std::filesystem::path& signingKey);
  // Replaces the served bytes and leaves the statement as it was.
  void ReplaceBytes(const std::string& name, const std::string& bytes);
  // A sparse file of `size` bytes (for size checks; never downloaded whole).
  void AddSparseFile(const std::string& name, std::int64_t size);
  std::string Url(const std::string& name) const;
  std::string BaseUrl() const { return nginx_.BaseUrl(); }
  int port() const { return nginx_.port(); }
  void SetFailing(bool failing);
  // One entry per request received so far.
  std::vector<std::string> RequestLog() const;
  // Body bytes sent for /download/ requests.
  std::int64_t BytesServed() const;

 private:
  kvtest::TempDir root_;
  kvtest::NginxServer nginx_;
};

// A fresh folder below the build tree, removed with everything in it on destruction. Unlike
// /tmp (writable by everyone), its parents are the builder's own, so a program running as root
// accepts it as an installation or work folder.
class PrivateDir {
 public:
  PrivateDir();
  ~PrivateDir();
  PrivateDir(const PrivateDir&) = delete;
  PrivateDir& operator=(const PrivateDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// The private key the build signs the demo brand's installers with.
std::filesystem::path BuildSigningKey();

// Writes a url.ini (UTF-16LE with a byte-order mark, CR LF) with a [CommonUrl] section.
void WriteUrlIni(const std::filesystem::path& path,
                 const std::map<std::string, std::string>& commonUrls);

// A fake "xdg-open" first on PATH that appends each argument it gets to a file.
class RecordingOpener {
 public:
  RecordingOpener();
  // The folder to put first on PATH.
  std::filesystem::path BinDir() const { return dir_.path() / "bin"; }
  // PATH with BinDir() in front.
  std::string PathValue() const;
  // The targets opened so far.
  std::vector<std::string> Opened() const;
  bool WaitForOpened(std::size_t count, std::chrono::milliseconds timeout) const;

 private:
  kvtest::TempDir dir_;
};

// Reads a log file from the position it had when this object was made.
class LogTail {
 public:
  explicit LogTail(std::filesystem::path file);
  // Lines written since, without their time stamps.
  std::vector<std::string> Lines() const;
  bool Contains(const std::string& text) const;
  bool WaitFor(const std::string& text, std::chrono::milliseconds timeout) const;
  // Position of the first line containing text (in Lines()), -1 when absent.
  int IndexOf(const std::string& text) const;

 private:
  std::filesystem::path file_;
  std::uintmax_t start_ = 0;
};

// An unprivileged user made for the test (useradd) and removed again (userdel) on destruction,
// so that a test running as root can run the program as a user would. Without root nothing is
// made and valid() is false.
class TestUser {
 public:
  TestUser();
  ~TestUser();
  TestUser(const TestUser&) = delete;
  TestUser& operator=(const TestUser&) = delete;
  bool valid() const { return uid_ >= 0; }
  int uid() const { return uid_; }
  int gid() const { return gid_; }
  const std::string& name() const { return name_; }
  // Gives the user the folder and everything in it.
  void Own(const std::filesystem::path& folder) const;

 private:
  std::string name_;
  int uid_ = -1;
  int gid_ = -1;
};

// Polls until pred holds; false on time-out.
bool WaitUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout);

}  // namespace apptest
