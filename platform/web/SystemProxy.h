// The proxy the desktop routes a web address through, in the form the request clients and the
// download engine take.
#pragma once

#include <string>

namespace platform {

// The desktop's proxy for `url`: "" for a direct connection, else "SCHEME://[USER:PASS@]HOST:PORT"
// with SCHEME "http" or "socks5" ("socks4" or "socks4a" when the desktop names only such a
// server). User and password are percent-encoded as in any URL (a ":" or "@" in them is %3A or
// %40); the consumer decodes them. A proxy named without a port gets 1080.
//
// Where the answer comes from:
//  - no_proxy (else NO_PROXY): a comma-separated list of host names (matching the name and every
//    name below it, with or without a leading "." or "*."), addresses, address ranges
//    ("10.0.0.0/8") or "*" for every host. A match means a direct connection.
//  - When any proxy variable is set, the variables alone, as the command-line tools read them:
//    https_proxy (else HTTPS_PROXY) for https addresses, http_proxy for http addresses, and
//    all_proxy (else ALL_PROXY) for both. The upper-case HTTP_PROXY is never used (a web
//    server's CGI environment can set it from a request field).
//  - Otherwise GIO's proxy resolver: the desktop's proxy settings and PAC script.
// GIO alone cannot be left to read the variables: GLib without its networking modules and the
// desktop's resolver ignore them, and the other module's rules differ (http_proxy serves https,
// "*" and bare domains in no_proxy do not work).
// May block while a PAC script is fetched and run. Any thread, concurrently.
std::string SystemProxyFor(const std::string& url);

}  // namespace platform
