#include "tests/kvhttp/support/FaultServer.h"

#include <csignal>

namespace kvtest {

namespace {
constexpr std::int64_t kPeriod = 65521;  // the script's repeat period
}

FaultServer::~FaultServer() {
  Stop();
}

bool FaultServer::Start(const std::vector<std::string>& arguments) {
  const std::string script = (SourceDir() / "tools/faultserver/faultserver.py").string();
  for (int attempt = 0; attempt < 5; ++attempt) {
    port_ = FreePort();
    std::vector<std::string> argv = {"python3", script, "--port", std::to_string(port_)};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    if (!proc_.Start(argv, (dir_ / "log").string())) return false;
    if (WaitForPort(port_, std::chrono::seconds(10))) return true;
    proc_.Stop(SIGKILL);
  }
  port_ = 0;
  return false;
}

void FaultServer::Stop() {
  if (proc_.pid() > 0) proc_.Stop(SIGKILL);
}

std::string FaultServer::Url(const std::string& path_and_query) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path_and_query;
}

std::string FaultServer::Log() const {
  return ReadFile(dir_ / "log");
}

std::string FaultServer::FileBytes(std::int64_t first, std::int64_t size) {
  std::string out(static_cast<std::size_t>(size), '\0');
  for (std::int64_t i = 0; i < size; ++i) {
    const std::int64_t j = (first + i) % kPeriod;
    out[static_cast<std::size_t>(i)] = static_cast<char>((j * 31 + (j >> 8) * 7) & 0xff);
  }
  return out;
}

}  // namespace kvtest
