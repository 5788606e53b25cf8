// Proxies on 127.0.0.1 for one test: squid (HTTP proxy with CONNECT, optionally with Basic
// authorisation), dante (SOCKS 4 and SOCKS 5 without authentication) and microsocks (SOCKS 5
// with user name and password). Each runs from a config in its own TempDir and is stopped on
// destruction. Start returns false when the program is missing or does not come up.
#pragma once

#include <string>

#include "tests/support/TestSupport.h"

namespace kvtest {

class ProxyProcess {
 public:
  virtual ~ProxyProcess() = default;
  int port() const { return port_; }
  // The proxy's own log, for failure messages.
  std::string Log() const;

 protected:
  bool Run(const std::vector<std::string>& argv);

  TempDir dir_;
  ChildProcess proc_;
  int port_ = 0;
};

class SquidProxy : public ProxyProcess {
 public:
  // With a user name, every request must carry Basic credentials for it.
  bool Start(const std::string& user = "", const std::string& password = "");
  // Lines of squid's access log (one per request it served).
  std::string AccessLog() const;
  ~SquidProxy() override;
};

class DanteProxy : public ProxyProcess {
 public:
  bool Start();
  ~DanteProxy() override;
};

class MicrosocksProxy : public ProxyProcess {
 public:
  bool Start(const std::string& user, const std::string& password);
  ~MicrosocksProxy() override;
};

}  // namespace kvtest
