#include "tests/support/TestSupport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

extern char** environ;

namespace kvtest {
namespace fs = std::filesystem;

fs::path SourceDir() {
  if (const char* s = std::getenv("KV_SOURCE_DIR")) return s;
  return fs::path(KV_TEST_SOURCE_DIR);
}

fs::path BinaryDir() {
  if (const char* s = std::getenv("KV_BINARY_DIR")) return s;
  return fs::path(KV_TEST_BINARY_DIR);
}

TempDir::TempDir() {
  std::string tmpl = (fs::temp_directory_path() / "kvtest-XXXXXX").string();
  char* made = mkdtemp(tmpl.data());
  path_ = made ? fs::path(made) : fs::path();
}

TempDir::~TempDir() {
  std::error_code ec;
  if (!path_.empty()) fs::remove_all(path_, ec);
}

void WriteFile(const fs::path& p, const std::string& bytes) {
  fs::create_directories(p.parent_path());
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::string PatternBytes(std::size_t size, unsigned seed) {
  std::mt19937 gen(seed);
  std::string s(size, '\0');
  for (std::size_t i = 0; i < size; i += 4) {
    std::uint32_t v = gen();
    for (std::size_t k = 0; k < 4 && i + k < size; ++k) s[i + k] = static_cast<char>(v >> (8 * k));
  }
  return s;
}

std::string Sha256Hex(const std::string& bytes) {
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  EVP_Digest(bytes.data(), bytes.size(), md, &len, EVP_sha256(), nullptr);
  static const char* hex = "0123456789abcdef";
  std::string out;
  for (unsigned i = 0; i < len; ++i) {
    out += hex[md[i] >> 4];
    out += hex[md[i] & 15];
  }
  return out;
}

ChildProcess::~ChildProcess() { Stop(SIGKILL); }

ChildProcess::ChildProcess(ChildProcess&& o) noexcept : pid_(o.pid_), status_(o.status_) {
  o.pid_ = -1;
}

ChildProcess& ChildProcess::operator=(ChildProcess&& o) noexcept {
  if (this != &o) {
    Stop(SIGKILL);
    pid_ = o.pid_;
    status_ = o.status_;
    o.pid_ = -1;
  }
  return *this;
}

bool ChildProcess::Start(const std::vector<std::string>& argv, const std::string& logFile,
                         const std::map<std::string, std::string>& extraEnv) {
  if (argv.empty()) return false;
  std::vector<std::string> envStore;
  for (char** e = environ; *e; ++e) {
    std::string kv = *e;
    auto eq = kv.find('=');
    if (eq != std::string::npos && extraEnv.count(kv.substr(0, eq))) continue;
    envStore.push_back(kv);
  }
  for (const auto& [k, v] : extraEnv) envStore.push_back(k + "=" + v);
  std::vector<char*> envp, args;
  for (auto& s : envStore) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<std::string> argStore = argv;
  for (auto& s : argStore) args.push_back(s.data());
  args.push_back(nullptr);

  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  const std::string out = logFile.empty() ? "/dev/null" : logFile;
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_adddup2(&fa, 1, 2);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK);
  posix_spawnattr_setpgroup(&attr, 0);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attr, &none);
  pid_t pid = -1;
  int rc = posix_spawnp(&pid, args[0], &fa, &attr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&fa);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) return false;
  pid_ = pid;
  return true;
}

bool ChildProcess::Running() {
  if (pid_ <= 0) return false;
  int st = 0;
  pid_t r = waitpid(pid_, &st, WNOHANG);
  if (r == pid_) {
    status_ = st;
    pid_ = -1;
    return false;
  }
  return true;
}

int ChildProcess::Stop(int sig) {
  if (pid_ <= 0) return status_;
  kill(-pid_, sig);
  kill(pid_, sig);
  int st = 0;
  if (Wait(std::chrono::seconds(5)) == -1) {
    kill(-pid_, SIGKILL);
    waitpid(pid_, &st, 0);
    status_ = st;
    pid_ = -1;
  }
  return status_;
}

int ChildProcess::Wait(std::chrono::milliseconds timeout) {
  if (pid_ <= 0) return status_;
  auto until = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < until) {
    int st = 0;
    pid_t r = waitpid(pid_, &st, WNOHANG);
    if (r == pid_) {
      status_ = st;
      pid_ = -1;
      return status_;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return -1;
}

int FreePort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = 0;
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  int port = ntohs(a.sin_port);
  close(fd);
  return port;
}

bool WaitForPort(int port, std::chrono::milliseconds timeout) {
  auto until = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < until) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(fd);
    if (ok) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

bool HaveProgram(const std::string& name) {
  if (name.find('/') != std::string::npos) return access(name.c_str(), X_OK) == 0;
  const char* path = std::getenv("PATH");
  std::string p = path ? path : "/usr/bin:/bin";
  p += ":/usr/sbin:/sbin";
  std::stringstream ss(p);
  std::string dir;
  while (std::getline(ss, dir, ':')) {
    if (!dir.empty() && access((dir + "/" + name).c_str(), X_OK) == 0) return true;
  }
  return false;
}

NginxServer::~NginxServer() { proc_.Stop(SIGQUIT); }

static std::string FindNginx() {
  for (const char* p : {"/usr/sbin/nginx", "/usr/bin/nginx"}) {
    if (access(p, X_OK) == 0) return p;
  }
  return "nginx";
}

bool NginxServer::Start(const NginxOptions& o) {
  tls_ = o.tls;
  for (int attempt = 0; attempt < 5; ++attempt) {
    port_ = FreePort();
    const fs::path pre = dir_.path();
    fs::create_directories(pre / "logs");
    fs::create_directories(pre / "tmp");
    std::ostringstream c;
    c << "worker_processes 1;\n"
      << "error_log " << (pre / "logs/error.log").string() << " info;\n"
      << "pid " << (pre / "nginx.pid").string() << ";\n"
      << "events { worker_connections 256; }\n"
      << "http {\n"
      << "  access_log " << (pre / "logs/access.log").string() << ";\n"
      << "  client_body_temp_path " << (pre / "tmp").string() << ";\n"
      << "  proxy_temp_path " << (pre / "tmp").string() << ";\n"
      << "  fastcgi_temp_path " << (pre / "tmp").string() << ";\n"
      << "  uwsgi_temp_path " << (pre / "tmp").string() << ";\n"
      << "  scgi_temp_path " << (pre / "tmp").string() << ";\n"
      << "  default_type application/octet-stream;\n"
      << "  sendfile on;\n"
      << "  keepalive_requests 1000;\n"
      << o.extraHttpConfig << "\n"
      << "  server {\n"
      << "    listen 127.0.0.1:" << port_ << (o.tls ? " ssl" : "") << ";\n"
      << "    server_name localhost;\n"
      << "    root " << fs::absolute(o.root).string() << ";\n";
    if (o.tls) {
      c << "    ssl_certificate " << o.certFile.string() << ";\n"
        << "    ssl_certificate_key " << o.keyFile.string() << ";\n";
    }
    c << o.extraServerConfig << "\n  }\n}\n";
    WriteFile(pre / "nginx.conf", c.str());
    if (!proc_.Start({FindNginx(), "-p", pre.string(), "-c", (pre / "nginx.conf").string(), "-g",
                      "daemon off;"},
                     (pre / "logs/stdout.log").string()))
      return false;
    if (WaitForPort(port_, std::chrono::seconds(5))) return true;
    proc_.Stop(SIGKILL);
  }
  return false;
}

std::string NginxServer::BaseUrl() const {
  return std::string(tls_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_);
}

static int Run(const std::string& cmd) { return std::system(cmd.c_str()); }

NginxOptions TlsNginxOptions(const fs::path& root, const TestCertificates& certs) {
  NginxOptions o;
  o.root = root;
  o.tls = true;
  o.certFile = certs.serverCert;
  o.keyFile = certs.serverKey;
  return o;
}

bool MakeTestCertificates(const fs::path& dir, const std::vector<std::string>& hosts,
                          TestCertificates& out) {
  fs::create_directories(dir);
  out.caCert = dir / "ca.pem";
  out.caKey = dir / "ca.key";
  out.serverCert = dir / "server.pem";
  out.serverKey = dir / "server.key";
  std::string san;
  for (const auto& h : hosts) {
    bool ip = h.find_first_not_of("0123456789.") == std::string::npos || h.find(':') != std::string::npos;
    san += (san.empty() ? "" : ",") + std::string(ip ? "IP:" : "DNS:") + h;
  }
  WriteFile(dir / "ext.cnf", "basicConstraints=CA:FALSE\nsubjectAltName=" + san + "\n");
  const std::string d = dir.string();
  std::string q = " >/dev/null 2>&1";
  if (Run("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=KVTestCA -keyout " + d +
          "/ca.key -out " + d + "/ca.pem" + q) != 0)
    return false;
  if (Run("openssl req -newkey rsa:2048 -nodes -subj /CN=" + hosts.front() + " -keyout " + d +
          "/server.key -out " + d + "/server.csr" + q) != 0)
    return false;
  return Run("openssl x509 -req -in " + d + "/server.csr -CA " + d + "/ca.pem -CAkey " + d +
             "/ca.key -CAcreateserial -days 2 -extfile " + d + "/ext.cnf -out " + d +
             "/server.pem" + q) == 0;
}

}  // namespace kvtest
