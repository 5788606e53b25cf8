// Proxy and download settings records with their defaults. Plain values.
#pragma once

#include <cstdint>
#include <string>

#include "kvhttp/net/RequestOptions.h"

namespace kvhttp {

class storage_interface;
using storage_factory = storage_interface* (*)();

enum proxy_type : std::int32_t {
  proxy_none = 0,
  proxy_socks4 = 1,
  proxy_socks5 = 2,
  proxy_socks5_pw = 3,  // SOCKS 5 with user name and password
  proxy_http = 4,
  proxy_http_pw = 5,  // HTTP proxy with Basic authorisation
};

struct ProxySettings {
  std::string host;
  std::int32_t port = 0;
  std::string username;
  std::string password;
  std::int32_t type = proxy_none;
};

struct DownloadSettings {
  std::int32_t download_rate_limit = -1;  // bytes per second, -1 unlimited
  std::int32_t connection_limit = 5;      // -1 means 5
  std::int32_t piece_size = -1;           // bytes, -1 automatic
  std::int32_t time_out = 11;             // seconds without progress before a reconnect
  std::int32_t pieces_per_request = 10;
  std::wstring resume_record_path;  // empty: output file + ".cfg"
  bool take_url_from_record = true;
  bool single_connection_only = false;
  std::wstring output_file;
  bool check_certificate = true;
  storage_factory storage = nullptr;  // null: default_storage
  RequestOptions request_options;     // added to every request
  ProxySettings proxy;
  // The size the caller knows the file must have (e.g. from a signed statement), -1 when it
  // knows none: a server that states another size, or a body that runs past it, ends the
  // download with errc::size_mismatch.
  std::int64_t expected_size = -1;
  // Pause before the first retry of a connection that got nowhere; it doubles with each
  // failure in a row, up to 16 times this.
  std::int32_t first_retry_delay_ms = 500;
};

}  // namespace kvhttp
