#include "kvhttp/download/DownloadTaskManager.h"

#include <boost/crc.hpp>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace kvhttp {

namespace {

class DownloadTaskManager {
 public:
  enum class Use { kCreate, kExisting };

  // The manager, created on first use when `use` allows; null before that otherwise.
  static DownloadTaskManager* Get(Use use) {
    static std::once_flag once;
    static DownloadTaskManager* instance = nullptr;
    static std::atomic<DownloadTaskManager*> published{nullptr};
    if (use == Use::kCreate) {
      std::call_once(once, [] {
        instance = new DownloadTaskManager();  // never destroyed: tasks live with the process
        published = instance;
      });
    }
    return published.load();
  }

  DownloadTaskHandle Create(const std::string& url, const std::wstring& savePath,
                            std::int32_t connections, std::int32_t timeOut) {
    const std::string key = DownloadTaskKey(url);
    // Key table first, task table second, always in this order: a handle is published only
    // together with its task, so a start right after a create always finds it.
    std::lock_guard keyLock(key_mutex_);
    auto found = keys_.find(key);
    if (found != keys_.end() && found->second != 0) return found->second;
    const DownloadTaskHandle handle = next_handle_++;
    DownloadTaskDefaults defaults = Defaults();
    DownloadSettings settings;
    settings.connection_limit = connections;
    settings.time_out = timeOut;
    settings.pieces_per_request = 8;
    settings.download_rate_limit = defaults.download_rate_limit;
    settings.resume_record_path = savePath + L".cfg";
    settings.output_file = savePath + L".tmp";
    settings.take_url_from_record = false;
    settings.check_certificate = defaults.check_certificate;
    settings.proxy = defaults.proxy;
    settings.first_retry_delay_ms = defaults.first_retry_delay_ms;
    auto task = std::make_shared<DownloadObj>(handle, url, key, savePath, settings);
    {
      std::lock_guard taskLock(task_mutex_);
      tasks_[handle] = task;
    }
    keys_[key] = handle;
    return handle;
  }

  std::shared_ptr<DownloadObj> Find(DownloadTaskHandle handle) {
    std::lock_guard lock(task_mutex_);
    auto it = tasks_.find(handle);
    return it == tasks_.end() ? nullptr : it->second;
  }

  DownloadTaskDefaults Defaults() {
    std::lock_guard lock(defaults_mutex_);
    return defaults_;
  }
  void SetDefaults(const DownloadTaskDefaults& d) {
    std::lock_guard lock(defaults_mutex_);
    defaults_ = d;
  }

 private:
  DownloadTaskManager() = default;

  std::mutex defaults_mutex_;
  DownloadTaskDefaults defaults_;
  std::mutex task_mutex_;
  std::map<DownloadTaskHandle, std::shared_ptr<DownloadObj>> tasks_;
  std::mutex key_mutex_;
  std::map<std::string, DownloadTaskHandle> keys_;
  DownloadTaskHandle next_handle_ = 1;  // guarded by key_mutex_; never reused
};

}  // namespace

std::string DownloadTaskKey(const std::string& url) {
  boost::crc_32_type crc;
  crc.process_bytes(url.data(), url.size());
  char text[16];
  std::snprintf(text, sizeof text, "%x", static_cast<unsigned>(crc.checksum()));
  return text;
}

void SetDownloadTaskDefaults(const DownloadTaskDefaults& defaults) {
  DownloadTaskManager::Get(DownloadTaskManager::Use::kCreate)->SetDefaults(defaults);
}

DownloadTaskDefaults GetDownloadTaskDefaults() {
  return DownloadTaskManager::Get(DownloadTaskManager::Use::kCreate)->Defaults();
}

DownloadTaskHandle CreateDownloadTask(const std::string& url, const std::wstring& savePath,
                                      std::int32_t connections, std::int32_t timeOutSeconds) {
  return DownloadTaskManager::Get(DownloadTaskManager::Use::kCreate)
      ->Create(url, savePath, connections, timeOutSeconds);
}

bool StartDownloadTask(DownloadTaskHandle handle) {
  auto task = DownloadTaskManager::Get(DownloadTaskManager::Use::kCreate)->Find(handle);
  if (!task || !task->TryMarkRunning()) return false;
  task->set_state(kTaskStarting);
  std::thread([task] { task->Run(); }).detach();
  return true;
}

bool ConfigureDownloadTask(DownloadTaskHandle handle, const ProxySettings& proxy,
                           std::int64_t expectedSize) {
  auto task = DownloadTaskManager::Get(DownloadTaskManager::Use::kCreate)->Find(handle);
  return task && task->Reconfigure(proxy, expectedSize);
}

bool QueryDownloadTask(DownloadTaskHandle handle, DownloadTaskStatus& status) {
  DownloadTaskManager* manager = DownloadTaskManager::Get(DownloadTaskManager::Use::kExisting);
  if (!manager) return false;
  auto task = manager->Find(handle);
  if (!task) return false;
  multi_download& d = task->downloader();
  status.state = task->state();
  status.file_size = d.FileSize();
  status.bytes_downloaded = d.BytesDownloaded();
  status.ratio = static_cast<float>(status.bytes_downloaded) / static_cast<float>(status.file_size);
  status.speed = d.Speed();
  status.text = status.state == kTaskFinished ? task->save_path() : d.OutputFileName();
  status.error = task->error();
  return true;
}

bool WaitDownloadTask(DownloadTaskHandle handle, std::chrono::milliseconds timeout) {
  DownloadTaskManager* manager = DownloadTaskManager::Get(DownloadTaskManager::Use::kExisting);
  std::shared_ptr<DownloadObj> task = manager ? manager->Find(handle) : nullptr;
  if (!task) {
    std::this_thread::sleep_for(timeout);
    return false;
  }
  return task->WaitForFinalState(timeout);
}

bool WaitEndingDownloadTaskRun(DownloadTaskHandle handle, std::chrono::milliseconds timeout) {
  DownloadTaskManager* manager = DownloadTaskManager::Get(DownloadTaskManager::Use::kExisting);
  std::shared_ptr<DownloadObj> task = manager ? manager->Find(handle) : nullptr;
  return !task || task->WaitForEndingRun(timeout);
}

bool StopDownloadTask(DownloadTaskHandle handle) {
  DownloadTaskManager* manager = DownloadTaskManager::Get(DownloadTaskManager::Use::kExisting);
  if (!manager) return false;
  if (handle == 0) return true;
  if (auto task = manager->Find(handle)) task->Stop();
  return true;
}

}  // namespace kvhttp
