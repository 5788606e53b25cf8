// Runs one multi_download on a thread of its own for a test, and an nginx that logs which
// connection asked for which range.
#pragma once

#include <atomic>
#include <boost/asio/io_context.hpp>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "kvhttp/download/multi_download.h"
#include "kvhttp/net/Settings.h"
#include "tests/support/TestSupport.h"

namespace kvtest {

std::wstring WidePath(const std::filesystem::path& p);

// Settings for a test download into `out` (+ ".cfg" for the record) with short time-outs and
// short pauses between retries.
kvhttp::DownloadSettings TestSettings(const std::filesystem::path& out, int connections = 8);

// The ETag nginx sends for `file` (its modification time and size in hexadecimal).
std::string NginxEtag(const std::filesystem::path& file);

class DownloadRun {
 public:
  DownloadRun();
  ~DownloadRun();  // stops and joins a run still going
  DownloadRun(const DownloadRun&) = delete;
  DownloadRun& operator=(const DownloadRun&) = delete;

  // Start and then run the I/O service until no work is left, on the run's thread.
  void Begin(const std::string& url, const kvhttp::DownloadSettings& settings);
  // True once the run's thread is done (start failed or the service ran out of work).
  bool WaitDone(std::chrono::seconds timeout);
  bool Done() const { return done_.load(); }
  // Waits until at least `bytes` are downloaded.
  bool WaitBytes(std::int64_t bytes, std::chrono::seconds timeout);
  kvhttp::multi_download& downloader() { return *download_; }
  const boost::system::error_code& start_error() const { return start_error_; }

 private:
  boost::asio::io_context io_;
  std::shared_ptr<kvhttp::multi_download> download_;
  std::thread thread_;
  boost::system::error_code start_error_;
  std::atomic<bool> done_{false};
};

// nginx serving `root` at "/", the same files limited to `rateText` per connection at "/slow/",
// and at "/r200/" (2 MB/s) answering every range that does not start at 0 with the whole file
// (200).
class RangeLoggingNginx {
 public:
  bool Start(const std::filesystem::path& root, const std::string& rateText = "200k");
  std::string Url(const std::string& path) const { return nginx_.BaseUrl() + path; }
  struct Request {
    std::string connection;
    int status;
    std::string range;
  };
  // The requests logged so far, in order.
  std::vector<Request> Requests() const;

 private:
  NginxServer nginx_;
};

}  // namespace kvtest
