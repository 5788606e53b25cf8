// Shared helpers for tests that use real files, processes and servers on 127.0.0.1.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace kvtest {

// The source and build trees (from ctest's environment, else derived from the binary path).
std::filesystem::path SourceDir();
std::filesystem::path BinaryDir();

// A fresh folder removed with everything in it on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

void WriteFile(const std::filesystem::path& p, const std::string& bytes);
std::string ReadFile(const std::filesystem::path& p);
// Deterministic pseudo-random content of `size` bytes.
std::string PatternBytes(std::size_t size, unsigned seed = 1);
std::string Sha256Hex(const std::string& bytes);

// A child process in its own process group; killed (the whole group) on destruction.
class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(ChildProcess&& o) noexcept;
  ChildProcess& operator=(ChildProcess&& o) noexcept;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // argv[0] is looked up on PATH. Output goes to `logFile` when given, else is discarded.
  bool Start(const std::vector<std::string>& argv, const std::string& logFile = "",
             const std::map<std::string, std::string>& extraEnv = {});
  pid_t pid() const { return pid_; }
  bool Running();
  // Sends `sig` to the group and waits; returns the exit status as waitpid reports it.
  int Stop(int sig = 15);
  // Waits up to `timeout` for a normal exit; -1 on time-out.
  int Wait(std::chrono::milliseconds timeout);

 private:
  pid_t pid_ = -1;
  int status_ = 0;
};

// A TCP port on 127.0.0.1 that was free a moment ago.
int FreePort();
// True once something accepts on 127.0.0.1:port.
bool WaitForPort(int port, std::chrono::milliseconds timeout = std::chrono::seconds(10));
// Whether an executable is on PATH (or at an absolute path).
bool HaveProgram(const std::string& name);

// nginx on 127.0.0.1 serving `root`, started in its own prefix folder and stopped on destruction.
struct NginxOptions {
  std::filesystem::path root;
  bool tls = false;               // serve TLS with certFile/keyFile
  std::filesystem::path certFile;
  std::filesystem::path keyFile;
  std::string extraServerConfig;  // appended inside the server block
  std::string extraHttpConfig;    // appended inside the http block
};

class NginxServer {
 public:
  NginxServer() = default;
  ~NginxServer();
  bool Start(const NginxOptions& options);
  int port() const { return port_; }
  std::string BaseUrl() const;  // "http://127.0.0.1:PORT" or "https://..."
  const std::filesystem::path& prefix() const { return dir_.path(); }

 private:
  TempDir dir_;
  ChildProcess proc_;
  int port_ = 0;
  bool tls_ = false;
};

// A CA and a server certificate for `hosts` (DNS names or IPs) made with the openssl tool.
struct TestCertificates {
  std::filesystem::path caCert, caKey, serverCert, serverKey;
};
bool MakeTestCertificates(const std::filesystem::path& dir, const std::vector<std::string>& hosts,
                          TestCertificates& out);
// Options for an nginx serving `root` over TLS with the server certificate of `certs`.
NginxOptions TlsNginxOptions(const std::filesystem::path& root, const TestCertificates& certs);

}  // namespace kvtest
