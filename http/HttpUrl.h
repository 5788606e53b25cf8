// Splits a URL into host, path (query included) and port for the client family. Port 80 by
// default, 443 after "https://", an explicit ":port" wins. A URL that begins with "https://" is
// cut after that scheme; otherwise the first "http://" (else "https://") anywhere in it starts
// the host. Any thread.
#pragma once

#include <cstdint>
#include <string>

void ParseHttpUrl(const std::wstring& url, std::wstring& host, std::wstring& path,
                  std::uint16_t& port);
void ParseHttpUrl(const std::string& url, std::string& host, std::string& path,
                  std::uint16_t& port);

// Whether a request for `url` on `port` (as ParseHttpUrl gave it) goes over TLS: on port 443,
// and for every URL written "https://", whatever its port.
bool UsesTls(const std::wstring& url, std::uint16_t port);
bool UsesTls(const std::string& url, std::uint16_t port);
