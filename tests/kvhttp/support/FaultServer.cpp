#include "tests/kvhttp/support/FaultServer.h"

#include <csignal>
#include <thread>

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
    for (std::size_t i = 0; i + 1 < arguments.size(); ++i)
      if (arguments[i] == "--bind")
        host_ = arguments[i + 1].find(':') != std::string::npos ? "[" + arguments[i + 1] + "]"
                                                                : arguments[i + 1];
    if (!proc_.Start(argv, (dir_ / "log").string())) return false;
    // The script says "PORT n" once it listens; no probe connection needed.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < until && proc_.Running()) {
      if (Log().find("PORT ") != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    proc_.Stop(SIGKILL);
  }
  port_ = 0;
  return false;
}

void FaultServer::Stop() {
  if (proc_.pid() > 0) proc_.Stop(SIGKILL);
}

std::string FaultServer::Url(const std::string& path_and_query) const {
  return "http://" + host_ + ":" + std::to_string(port_) + path_and_query;
}

std::string FaultServer::Log() const {
  return ReadFile(dir_ / "log");
}

int FaultServer::Connections() const {
  const std::string log = Log();
  int n = 0;
  for (std::size_t at = log.find("CONNECTION "); at != std::string::npos;
       at = log.find("CONNECTION ", at + 1))
    ++n;
  return n;
}

std::string FaultServer::FileBytes(std::int64_t first, std::int64_t size, int version) {
  std::string out(static_cast<std::size_t>(size), '\0');
  for (std::int64_t i = 0; i < size; ++i) {
    const std::int64_t j = (first + i + std::int64_t{4099} * version) % kPeriod;
    out[static_cast<std::size_t>(i)] = static_cast<char>((j * 31 + (j >> 8) * 7) & 0xff);
  }
  return out;
}

}  // namespace kvtest
