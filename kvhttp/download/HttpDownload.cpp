#include "kvhttp/download/HttpDownload.h"

#include <chrono>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <memory>
#include <thread>

#include "kvhttp/download/DownloadTaskManager.h"
#include "kvhttp/download/ResumeRecord.h"
#include "kvhttp/download/detail/OutputLock.h"
#include "kvhttp/download/detail/PathText.h"
#include "kvhttp/download/detail/UrlText.h"
#include "kvhttp/net/ProxyUrl.h"
#include "log/Log.h"

namespace {

using namespace kvhttp;

std::mutex g_current_mutex;
// Shared ownership retires a driver instead of destroying it under a Download still running.
std::shared_ptr<CKVDownload> g_current;

std::int64_t NowSeconds() {
  return static_cast<std::int64_t>(std::time(nullptr));
}

int Percent(float ratio) {
  float p = ratio * 100.0f;
  if (!std::isfinite(p)) return 0;
  if (p > 2147483520.0f) return INT32_MAX;
  if (p < -2147483520.0f) return INT32_MIN;
  return static_cast<int>(p);
}

bool RemoveIfPresent(const std::wstring& path) {
  std::error_code ec;
  const std::filesystem::path p(detail::PathToNative(path));
  const auto status = std::filesystem::symlink_status(p, ec);
  if (status.type() == std::filesystem::file_type::not_found) return true;
  if (ec) return false;
  return std::filesystem::remove(p, ec) && !ec;
}

}  // namespace

CKVDownload::CKVDownload(const DownloadRequest* request, DownloadEventCallback callback,
                         void* callerData)
    : request_(request), callback_(callback), caller_data_(callerData) {}

void CKVDownload::Notify(int event, int value1, int value2) {
  if (callback_ && request_) callback_(event, value1, value2, request_->userData);
}

int CKVDownload::Download() {
  LOGA(LogLevelInfo, "Download....");
  const std::int64_t t0 = NowSeconds();
  Notify(kDownloadEventStarted, 0, 0);
  if (!request_) return kDownloadResultError;

  // The URL reaches the engine in the user's code page.
  detail::UseUserLocale();
  std::string url;
  if (!detail::WideToLocaleText(request_->url, url)) url = detail::PathToNative(request_->url);

  const DownloadTaskDefaults defaults = GetDownloadTaskDefaults();
  ProxySettings proxy = defaults.proxy;
  std::string proxyError;
  if (!request_->proxy.empty() && !ParseProxyUrl(request_->proxy, proxy, proxyError)) {
    LOGA(LogLevelInfo, "HttpDownload %s", proxyError.c_str());
    const int elapsed = static_cast<int>(NowSeconds() - t0);
    Notify(kDownloadEventFinished, kDownloadResultError, elapsed);
    return kDownloadResultError;
  }

  cancelled_ = 0;
  const DownloadTaskHandle handle =
      CreateDownloadTask(url, request_->savePath, request_->connections, defaults.time_out);
  // A run that an earlier cancel or failure is still winding down ends first, so that this
  // request starts a run of its own instead of taking that run's end as its result.
  if (!WaitEndingDownloadTaskRun(handle, std::chrono::seconds(30))) {
    LOGA(LogLevelInfo, "HttpDownload the task's earlier run has not ended");
  }
  // How to reach the server and what size to accept belong to this request; a run of the task
  // still going keeps what it started with.
  ConfigureDownloadTask(handle, proxy, request_->expectedSize);
  {
    std::lock_guard lock(cancel_mutex_);
    current_ = handle;
  }
  StartDownloadTask(handle);

  int result = kDownloadResultCancelled;
  while (DownloadTaskHandle h = current_.load()) {
    // Progress every 800 ms; the end of the task cuts the wait short, and the decision is
    // made on the state after the wait.
    WaitDownloadTask(h, std::chrono::milliseconds(800));
    DownloadTaskStatus status;
    QueryDownloadTask(h, status);
    if (status.state == kTaskFinished) {
      result = kDownloadResultOk;
      break;
    }
    if (status.state == kTaskDownloading) {
      Notify(kDownloadEventProgress, Percent(status.ratio), 0);
    } else if (status.state == kTaskFailed) {
      result = kDownloadResultError;
      break;
    } else if (status.state == kTaskStopped) {
      result = kDownloadResultIncomplete;
      break;
    }
  }
  // A cancel decides, also one that came while the poll was deciding.
  if (current_.load() == 0) {
    LOGA(LogLevelInfo, "HttpDownload kvhttp user maybe cancel.");
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    result = kDownloadResultCancelled;
    DownloadTaskStatus status;
    if (DownloadTaskHandle c = cancelled_.load();
        c != 0 && QueryDownloadTask(c, status) && status.state == kTaskFinished) {
      LOGA(LogLevelInfo, "HttpDownload kvhttp cancel but almost complete.");
      result = kDownloadResultOk;
    }
  }
  const int elapsed = static_cast<int>(NowSeconds() - t0);
  LOGA(LogLevelInfo, "HttpDownload,ret = %d (time = %d \xe7\xa7\x92)", result, elapsed);
  Notify(kDownloadEventFinished, result, elapsed);
  return result;
}

void CKVDownload::Cancel() {
  DownloadTaskHandle h;
  {
    // The poll sees the cleared handle before it can see the stopped state.
    std::lock_guard lock(cancel_mutex_);
    h = current_.load();
    if (h == 0) return;
    cancelled_ = h;
    current_ = 0;
  }
  StopDownloadTask(h);
}

bool RunHttpDownload(const DownloadRequest& request, DownloadEventCallback callback,
                     void* callerData) {
  auto driver = std::make_shared<CKVDownload>(&request, callback, callerData);
  {
    std::lock_guard lock(g_current_mutex);
    g_current = driver;  // the previous one lives on while its own call holds it
  }
  return driver->Download() == kDownloadResultOk;
}

void CancelHttpDownload() {
  std::shared_ptr<CKVDownload> driver;
  {
    std::lock_guard lock(g_current_mutex);
    driver = g_current;
  }
  if (driver) driver->Cancel();
}

bool JudgeDeleteHistoryFile(const std::wstring& url, std::int64_t totalBytes,
                            const std::wstring& fileName) {
  LOGW(LogLevelInfo, L"JudgeDeleteHistoryFile strDownloadUrl=%ls, totalBytes=%lld, strFileName=%ls",
       url.c_str(), static_cast<long long>(totalBytes), fileName.c_str());
  std::int64_t recordedSize = 0;
  std::wstring recordedUrl;
  if (!ReadResumeRecord(fileName + L".cfg", recordedSize, recordedUrl)) return false;
  // A matching record is what lets the next download resume.
  if (recordedUrl == url && recordedSize == totalBytes) return false;
  const bool removed = RemoveTemporaryFileWrap(fileName);
  LOGA(LogLevelInfo, "RemoveTemporaryFileWrap result=%d", removed ? 1 : 0);
  return removed;
}

bool RemoveTemporaryFileWrap(const std::wstring& fileName) {
  // A running download's files are its own; a new file under the old name would split them.
  if (detail::OutputLock::IsHeld(fileName + L".tmp")) return false;
  if (!RemoveIfPresent(fileName + L".tmp")) return false;
  return RemoveIfPresent(fileName + L".cfg");
}
