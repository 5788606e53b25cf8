// Proxy texts as kvget and the system's proxy settings give them: any bytes, never a crash,
// and an accepted proxy names a host and a port.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "kvhttp/net/ProxyUrl.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  kvhttp::ProxySettings p;
  std::string error;
  if (kvhttp::ParseProxyUrl(text, p, error)) {
    if (!text.empty() && (p.host.empty() || p.port < 1 || p.port > 65535)) std::abort();
  } else if (error.empty()) {
    std::abort();
  }
  return 0;
}
