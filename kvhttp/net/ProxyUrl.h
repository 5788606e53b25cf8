// The text form of a proxy: "http://[user:pass@]host:port", "socks5://[user:pass@]host:port"
// or "socks4://[user@]host:port" (user and password may be percent-encoded). Pure functions;
// any thread.
#pragma once

#include <string>

#include "kvhttp/net/Settings.h"

namespace kvhttp {

// Fills `out` from `text`; an empty text means a direct connection (type none). False with a
// one-line reason in `error` for any other text that is no proxy of these kinds.
bool ParseProxyUrl(const std::string& text, ProxySettings& out, std::string& error);

}  // namespace kvhttp
