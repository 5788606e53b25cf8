// Starts tools/faultserver (scripted, misbehaving HTTP responses by path) on 127.0.0.1 for one
// test and stops it on destruction. The paths it serves are described in its README.md.
#pragma once

#include <cstdint>
#include <string>

#include "tests/support/TestSupport.h"

namespace kvtest {

class FaultServer {
 public:
  FaultServer() = default;
  ~FaultServer();
  FaultServer(const FaultServer&) = delete;
  FaultServer& operator=(const FaultServer&) = delete;

  // Starts the server on a free port with extra command-line arguments (e.g. "--script", ...
  // or "--bind", "::1"); false when python3 or the script is missing or it does not come up.
  bool Start(const std::vector<std::string>& arguments = {});
  void Stop();
  int port() const { return port_; }
  // "http://127.0.0.1:PORT" (or "http://[::1]:PORT") followed by `path_and_query`.
  std::string Url(const std::string& path_and_query) const;
  // The log holds one "METHOD target" line per request received.
  std::string Log() const;

  // Bytes [first, first + size) of the server's generated file (the /file and /dir/ paths) in
  // the given version.
  static std::string FileBytes(std::int64_t first, std::int64_t size, int version = 0);
  // Connections the server accepted that sent a request.
  int Connections() const;

 private:
  TempDir dir_;
  ChildProcess proc_;
  int port_ = 0;
  std::string host_ = "127.0.0.1";
};

}  // namespace kvtest
