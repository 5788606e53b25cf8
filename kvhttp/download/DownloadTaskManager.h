// The process-wide owner of download tasks, keyed by the CRC-32 of their URL. Created on first
// use and never destroyed. Every function may be called from any thread.
#pragma once

#include <boost/system/error_code.hpp>
#include <chrono>
#include <cstdint>
#include <string>

#include "kvhttp/download/DownloadObj.h"
#include "kvhttp/net/Settings.h"

namespace kvhttp {

struct DownloadTaskStatus {
  DownloadTaskState state = kTaskNone;
  std::wstring text;  // finished: the save path; otherwise the output file
  std::int64_t file_size = 0;
  std::int64_t bytes_downloaded = 0;
  float ratio = 0;
  std::int32_t speed = 0;
  boost::system::error_code error;  // why the last run failed or stopped early
};

// Lowercase hexadecimal CRC-32 of the URL's bytes, without leading zeros.
std::string DownloadTaskKey(const std::string& url);

// What new tasks receive besides their URL and paths.
struct DownloadTaskDefaults {
  ProxySettings proxy;
  std::int32_t download_rate_limit = -1;
  std::int32_t time_out = 20;
  bool check_certificate = true;
  // Pause before a connection that got nowhere is tried again (doubling, see DownloadSettings).
  std::int32_t first_retry_delay_ms = 500;
};
// Replaces the defaults for tasks created from now on (creates the manager).
void SetDownloadTaskDefaults(const DownloadTaskDefaults& defaults);
DownloadTaskDefaults GetDownloadTaskDefaults();

// The task for `url`: an existing one unchanged (its save path and counts win), else a new
// task in state kTaskStarting writing to savePath + ".tmp" with its record at savePath + ".cfg".
DownloadTaskHandle CreateDownloadTask(const std::string& url, const std::wstring& savePath,
                                      std::int32_t connections, std::int32_t timeOutSeconds);
// Gives the task the proxy and expected size of its next run; false for an unknown handle or
// while a run is going.
bool ConfigureDownloadTask(DownloadTaskHandle handle, const ProxySettings& proxy,
                           std::int64_t expectedSize);
// Starts a run on a new detached thread; false for an unknown handle or a run still going.
bool StartDownloadTask(DownloadTaskHandle handle);
// Fills `status`; false (status untouched) for an unknown handle or before the manager exists.
bool QueryDownloadTask(DownloadTaskHandle handle, DownloadTaskStatus& status);
// Waits up to `timeout` for the task to finish, fail or stop, whichever comes first; true when
// it has. An unknown handle waits the whole time, so a poll built on it never spins.
bool WaitDownloadTask(DownloadTaskHandle handle, std::chrono::milliseconds timeout);
// Waits up to `timeout` while a run of the task that is being stopped, or has just ended, winds
// down; true when none is (also for an unknown handle). A starting or downloading run is not
// waited for.
bool WaitEndingDownloadTaskRun(DownloadTaskHandle handle, std::chrono::milliseconds timeout);
// Stops a downloading task; true once the manager exists. The task shows kTaskStopping until
// its run is over, then kTaskStopped (or kTaskFinished when the run completed first).
bool StopDownloadTask(DownloadTaskHandle handle);

}  // namespace kvhttp
