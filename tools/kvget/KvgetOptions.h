// The command line of kvget. Pure parsing; no I/O.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kvhttp/net/Settings.h"

namespace kvget {

struct Options {
  int connections = 8;
  kvhttp::ProxySettings proxy;
  std::int32_t limit = -1;  // bytes per second
  std::int32_t timeout = 20;
  bool insecure = false;
  std::string url;
  std::string output;
};

// Fills `out` from the arguments after the program name; false with a one-line `error` for
// anything that is not a valid command line.
bool ParseOptions(const std::vector<std::string>& args, Options& out, std::string& error);

// "socks4://host:port", "socks5://[user:pass@]host:port" or "http://[user:pass@]host:port".
bool ParseProxy(const std::string& text, kvhttp::ProxySettings& out, std::string& error);

extern const char* const kUsage;

}  // namespace kvget
