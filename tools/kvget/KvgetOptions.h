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
  std::string proxyText;    // as given, for the download request
  std::int32_t limit = -1;  // bytes per second
  std::int32_t timeout = 20;
  bool insecure = false;
  std::int64_t expectedSize = -1;  // --size: the size the file must have
  std::string url;
  std::string output;
};

// Fills `out` from the arguments after the program name; false with a one-line `error` for
// anything that is not a valid command line.
bool ParseOptions(const std::vector<std::string>& args, Options& out, std::string& error);

extern const char* const kUsage;

}  // namespace kvget
