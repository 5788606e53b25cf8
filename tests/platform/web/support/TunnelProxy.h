// A forward proxy on 127.0.0.1 that only tunnels: it answers "CONNECT host:port" with 200 and
// then copies bytes both ways between the client and 127.0.0.1:port. Enough to put a real TLS
// exchange behind a proxy. Each tunnel runs on its own thread; Stop ends them all.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kvtest {

class TunnelProxy {
 public:
  TunnelProxy() = default;
  ~TunnelProxy();
  TunnelProxy(const TunnelProxy&) = delete;
  TunnelProxy& operator=(const TunnelProxy&) = delete;

  bool Start();
  void Stop();
  int port() const { return port_; }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_); }
  // The targets of the CONNECT requests seen so far, e.g. "127.0.0.1:8443".
  std::vector<std::string> Targets() const;

 private:
  void AcceptLoop();
  void Serve(int fd);

  int listenFd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread acceptThread_;
  mutable std::mutex mutex_;
  std::vector<std::thread> tunnels_;
  std::vector<std::string> targets_;
};

}  // namespace kvtest
