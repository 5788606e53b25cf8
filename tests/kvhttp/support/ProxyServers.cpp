#include "tests/kvhttp/support/ProxyServers.h"

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <sstream>

namespace kvtest {
namespace fs = std::filesystem;

namespace {

std::string Find(const std::string& name) {
  for (const char* dir : {"/usr/sbin/", "/usr/bin/", "/sbin/", "/bin/"}) {
    const std::string p = std::string(dir) + name;
    if (access(p.c_str(), X_OK) == 0) return p;
  }
  return name;
}

// Daemons that drop root privileges must still write their logs here.
void OpenToAll(const fs::path& dir) {
  fs::permissions(dir, fs::perms::all);
}

std::string Capture(const std::string& command) {
  std::string out;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buf[256];
    while (fgets(buf, sizeof buf, p)) out += buf;
    pclose(p);
  }
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

}  // namespace

std::string ProxyProcess::Log() const {
  std::string all;
  for (const auto& entry : fs::directory_iterator(dir_.path())) {
    if (entry.path().extension() == ".log") all += ReadFile(entry.path());
  }
  return all;
}

bool ProxyProcess::Run(const std::vector<std::string>& argv) {
  if (!proc_.Start(argv, (dir_ / "stdout.log").string())) return false;
  return WaitForPort(port_, std::chrono::seconds(15));
}

bool SquidProxy::Start(const std::string& user, const std::string& password) {
  OpenToAll(dir_.path());
  port_ = FreePort();
  const std::string d = dir_.path().string();
  std::ostringstream c;
  c << "http_port 127.0.0.1:" << port_ << "\n"
    << "pid_filename " << d << "/squid.pid\n"
    << "cache_log " << d << "/cache.log\n"
    << "access_log stdio:" << d << "/access.log\n"
    << "coredump_dir " << d << "\n"
    << "cache deny all\n"
    << "cache_mem 8 MB\n"
    << "shutdown_lifetime 0 seconds\n"
    << "dns_v4_first on\n";
  if (!user.empty()) {
    const std::string hash = Capture("openssl passwd -1 '" + password + "'");
    WriteFile(dir_ / "passwd", user + ":" + hash + "\n");
    fs::permissions(dir_ / "passwd", fs::perms::owner_read | fs::perms::owner_write |
                                         fs::perms::group_read | fs::perms::others_read);
    c << "auth_param basic program /usr/lib/squid/basic_ncsa_auth " << d << "/passwd\n"
      << "auth_param basic realm test\n"
      << "acl users proxy_auth REQUIRED\n"
      << "http_access allow users\n"
      << "http_access deny all\n";
  } else {
    c << "http_access allow all\n";
  }
  WriteFile(dir_ / "squid.conf", c.str());
  return Run({Find("squid"), "-N", "-f", (dir_ / "squid.conf").string()});
}

std::string SquidProxy::AccessLog() const {
  return ReadFile(dir_ / "access.log");
}

SquidProxy::~SquidProxy() {
  proc_.Stop(SIGKILL);
}

bool DanteProxy::Start() {
  OpenToAll(dir_.path());
  port_ = FreePort();
  std::ostringstream c;
  c << "logoutput: " << (dir_ / "danted.log").string() << "\n"
    << "internal: 127.0.0.1 port = " << port_ << "\n"
    << "external: 127.0.0.1\n"
    << "clientmethod: none\n"
    << "socksmethod: none\n"
    << "user.privileged: root\n"
    << "user.unprivileged: nobody\n"
    << "client pass {\n  from: 127.0.0.0/8 to: 0.0.0.0/0\n}\n"
    << "socks pass {\n  from: 127.0.0.0/8 to: 0.0.0.0/0\n  protocol: tcp\n  log: connect\n}\n";
  WriteFile(dir_ / "danted.conf", c.str());
  return Run({Find("danted"), "-f", (dir_ / "danted.conf").string(), "-N", "1", "-p",
              (dir_ / "danted.pid").string()});
}

DanteProxy::~DanteProxy() {
  proc_.Stop(SIGKILL);
}

bool MicrosocksProxy::Start(const std::string& user, const std::string& password) {
  port_ = FreePort();
  std::vector<std::string> argv = {Find("microsocks"), "-i", "127.0.0.1", "-p",
                                   std::to_string(port_)};
  if (!user.empty()) argv.insert(argv.end(), {"-u", user, "-P", password});
  return Run(argv);
}

MicrosocksProxy::~MicrosocksProxy() {
  proc_.Stop(SIGKILL);
}

}  // namespace kvtest
