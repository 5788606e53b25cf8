#include "tests/kvhttp/support/DownloadHarness.h"

#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "kvhttp/download/detail/PathText.h"

namespace kvtest {

std::wstring WidePath(const std::filesystem::path& p) {
  return kvhttp::detail::NativeToPath(p.string());
}

kvhttp::DownloadSettings TestSettings(const std::filesystem::path& out, int connections) {
  kvhttp::DownloadSettings s;
  s.connection_limit = connections;
  s.time_out = 1;
  s.pieces_per_request = 8;
  s.output_file = WidePath(out);
  s.resume_record_path = WidePath(out.string() + ".cfg");
  s.take_url_from_record = false;
  s.first_retry_delay_ms = 50;
  return s;
}

std::string NginxEtag(const std::filesystem::path& file) {
  struct stat st {};
  if (::stat(file.c_str(), &st) != 0) return {};
  char text[64];
  std::snprintf(text, sizeof text, "\"%llx-%llx\"", static_cast<unsigned long long>(st.st_mtime),
                static_cast<unsigned long long>(st.st_size));
  return text;
}

DownloadRun::DownloadRun() : download_(std::make_shared<kvhttp::multi_download>(io_)) {}

DownloadRun::~DownloadRun() {
  if (thread_.joinable()) {
    download_->Stop();
    thread_.join();
  }
  // Whatever a stop left queued (its timer cancel) runs before the service goes.
  io_.restart();
  io_.poll();
}

void DownloadRun::Begin(const std::string& url, const kvhttp::DownloadSettings& settings) {
  thread_ = std::thread([this, url, settings] {
    download_->Start(url, settings, start_error_);
    if (!start_error_) io_.run();
    done_ = true;
  });
}

bool DownloadRun::WaitDone(std::chrono::seconds timeout) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (!done_ && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  if (done_ && thread_.joinable()) thread_.join();
  return done_;
}

bool DownloadRun::WaitBytes(std::int64_t bytes, std::chrono::seconds timeout) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (download_->BytesDownloaded() < bytes && !done_ && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  return download_->BytesDownloaded() >= bytes;
}

bool RangeLoggingNginx::Start(const std::filesystem::path& root, const std::string& rateText) {
  NginxOptions o;
  o.root = root;
  const std::string r = std::filesystem::absolute(root).string();
  o.extraHttpConfig = "  log_format ranges '$connection $status \"$http_range\"';\n";
  o.extraServerConfig =
      "    access_log " + (nginx_.prefix() / "logs/ranges.log").string() +
      " ranges;\n"
      "    location /slow/ { alias " +
      r + "/; limit_rate " + rateText +
      "; sendfile_max_chunk 8k; }\n"
      "    location /r200/ { alias " +
      r +
      "/; limit_rate 2m;\n"
      "      if ($http_range ~ \"^bytes=[1-9]\") { rewrite ^/r200/(.*)$ /full/$1 last; } }\n"
      "    location /full/ { internal; alias " +
      r + "/; max_ranges 0; }\n";
  return nginx_.Start(o);
}

std::vector<RangeLoggingNginx::Request> RangeLoggingNginx::Requests() const {
  std::vector<Request> out;
  std::ifstream in(nginx_.prefix() / "logs/ranges.log");
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    Request r;
    fields >> r.connection >> r.status;
    std::string rest;
    std::getline(fields, rest);
    auto q1 = rest.find('"'), q2 = rest.rfind('"');
    if (q1 != std::string::npos && q2 > q1) r.range = rest.substr(q1 + 1, q2 - q1 - 1);
    out.push_back(r);
  }
  return out;
}

}  // namespace kvtest
