// Splits a URL into host, path (query included) and port for the client family. Port 80 by
// default, 443 after "https://", an explicit ":port" wins; a request is secure exactly when the
// port is 443. Any thread.
#pragma once

#include <cstdint>
#include <string>

void ParseHttpUrl(const std::wstring& url, std::wstring& host, std::wstring& path,
                  std::uint16_t& port);
void ParseHttpUrl(const std::string& url, std::string& host, std::string& path,
                  std::uint16_t& port);
