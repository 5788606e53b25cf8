// One download task: a segmented downloader with the I/O service it runs on, run on a thread
// of its own. Always held by shared pointer. Run on the task thread; the rest from any thread.
#pragma once

#include <atomic>
#include <boost/asio/io_context.hpp>
#include <boost/system/error_code.hpp>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "kvhttp/download/multi_download.h"
#include "kvhttp/net/Settings.h"

namespace kvhttp {

using DownloadTaskHandle = std::uintptr_t;  // 0 is no task

enum DownloadTaskState : std::int32_t {
  kTaskNone = 0,
  kTaskFailed = 1,
  kTaskStopped = 2,
  kTaskDownloading = 3,
  kTaskFinished = 4,
  kTaskStarting = 5,
  kTaskStopping = 6,
};

class DownloadObj {
 public:
  DownloadObj(DownloadTaskHandle handle, std::string url, std::string key, std::wstring savePath,
              const DownloadSettings& settings);
  ~DownloadObj();
  DownloadObj(const DownloadObj&) = delete;
  DownloadObj& operator=(const DownloadObj&) = delete;

  // The task thread's whole run: lock the ".tmp" file against other runs, start the
  // downloader, run its I/O service until no work is left, then move the finished ".tmp" file
  // to the save path and remove the record.
  void Run();
  // Ends a run that is starting or downloading; a stop during the start is applied as soon as
  // the start returns. Any thread.
  void Stop();
  // Takes the proxy and the expected size of the next run. Refused (false) while a run is
  // going. Any thread.
  bool Reconfigure(const ProxySettings& proxy, std::int64_t expectedSize);

  DownloadTaskState state() const { return state_.load(); }
  void set_state(DownloadTaskState s);
  // Waits up to `timeout` for kTaskFinished, kTaskFailed or kTaskStopped; true when the task is
  // in one of them. Any thread.
  bool WaitForFinalState(std::chrono::milliseconds timeout);
  // Waits up to `timeout` while a run is being stopped or is winding down after its end; true
  // when none is. A run that is starting or downloading is not waited for. Any thread.
  bool WaitForEndingRun(std::chrono::milliseconds timeout);
  bool running() const { return running_.load(); }
  // Set by the manager before the task thread starts, so a second start is refused at once.
  bool TryMarkRunning();

  DownloadTaskHandle handle() const { return handle_; }
  const std::string& url() const { return url_; }
  const std::string& key() const { return key_; }
  const std::wstring& save_path() const { return save_path_; }
  DownloadSettings settings();
  multi_download& downloader() { return *downloader_; }
  // Why the last run failed or stopped early; empty after a finished run. Any thread.
  boost::system::error_code error() const;

 private:
  void SetError(const boost::system::error_code& ec);
  void NotifyStateChange();
  void DrainEarlierRun();
  DownloadTaskState RunDownload();
  boost::system::error_code FinishFiles();

  boost::asio::io_context io_;  // before the downloader, which refers to it
  std::shared_ptr<multi_download> downloader_;
  DownloadTaskHandle handle_;
  std::mutex run_mutex_;
  std::atomic<bool> running_{false};
  std::atomic<bool> stop_pending_{false};  // a Stop came while the run was starting
  std::string url_;
  std::string key_;
  std::wstring save_path_;
  std::mutex settings_mutex_;
  DownloadSettings settings_;  // guarded by settings_mutex_
  std::atomic<DownloadTaskState> state_{kTaskStarting};
  // Wakes WaitForFinalState; every change of state_ passes the mutex after it.
  std::mutex state_mutex_;
  std::condition_variable state_changed_;
  mutable std::mutex error_mutex_;
  boost::system::error_code error_;
};

}  // namespace kvhttp
