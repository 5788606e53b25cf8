#include "kvhttp/download/DownloadObj.h"

#include <fcntl.h>
#include <unistd.h>

#include <boost/system/system_error.hpp>
#include <filesystem>

#include "kvhttp/download/detail/PathText.h"

namespace kvhttp {

namespace fs = std::filesystem;

namespace {

bool IsFinal(DownloadTaskState s) {
  return s == kTaskFinished || s == kTaskFailed || s == kTaskStopped;
}

// Data first, then the name: a crash right after the move must not leave an empty installer.
void SyncFile(const fs::path& p) {
  int fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  ::fdatasync(fd);
  ::close(fd);
}

// Moves `from` over `to`, copying when they lie on different file systems.
std::error_code MoveReplacing(const fs::path& from, const fs::path& to) {
  std::error_code ec;
  SyncFile(from);
  fs::rename(from, to, ec);
  if (!ec || ec != std::errc::cross_device_link) return ec;
  const fs::path part = to.string() + ".part";
  fs::copy_file(from, part, fs::copy_options::overwrite_existing, ec);
  if (ec) {
    std::error_code ignored;
    fs::remove(part, ignored);
    return ec;
  }
  SyncFile(part);
  fs::rename(part, to, ec);
  if (ec) {
    std::error_code ignored;
    fs::remove(part, ignored);
    return ec;
  }
  fs::remove(from, ec);
  return {};
}

}  // namespace

DownloadObj::DownloadObj(DownloadTaskHandle handle, std::string url, std::string key,
                         std::wstring savePath, const DownloadSettings& settings)
    : downloader_(std::make_shared<multi_download>(io_)),
      handle_(handle),
      url_(std::move(url)),
      key_(std::move(key)),
      save_path_(std::move(savePath)),
      settings_(settings) {}

DownloadObj::~DownloadObj() {
  // Handlers still queued hold the downloader; let them go before the service they belong to.
  downloader_->Stop();
  try {
    io_.restart();
    io_.poll();
  } catch (...) {
  }
  downloader_->CloseFiles();
}

bool DownloadObj::TryMarkRunning() {
  bool expected = false;
  return running_.compare_exchange_strong(expected, true);
}

void DownloadObj::DrainEarlierRun() {
  // What a stop or a failed run left queued runs now, before the new start, and finds itself
  // stale.
  io_.restart();
  for (int pass = 0; pass < 1000; ++pass) {
    try {
      if (io_.poll_one() == 0) break;
    } catch (...) {
    }
  }
  io_.restart();
}

void DownloadObj::Run() {
  std::lock_guard runLock(run_mutex_);
  running_ = true;
  DrainEarlierRun();
  try {
    set_state(kTaskStarting);
    boost::system::error_code ec;
    downloader_->Start(url_, settings_, ec);
    if (ec) throw boost::system::system_error(ec);
    set_state(kTaskDownloading);
    io_.run();
    const std::int64_t size = downloader_->FileSize();
    if (size >= 0 && size == downloader_->BytesDownloaded()) {
      boost::system::error_code moveError = FinishFiles();
      SetError(moveError);
      set_state(moveError ? kTaskFailed : kTaskFinished);
    } else {
      SetError(downloader_->LastError());
      set_state(kTaskStopped);
    }
  } catch (const boost::system::system_error& e) {
    SetError(e.code());
    io_.stop();
    io_.restart();
    downloader_->Stop();
    downloader_->CloseFiles();
    set_state(kTaskFailed);
  } catch (...) {
    SetError(make_error_code(boost::system::errc::state_not_recoverable));
    io_.stop();
    io_.restart();
    downloader_->Stop();
    downloader_->CloseFiles();
    set_state(kTaskFailed);
  }
  running_ = false;
}

boost::system::error_code DownloadObj::FinishFiles() {
  const fs::path save(detail::PathToNative(save_path_));
  const fs::path tmp(detail::PathToNative(save_path_ + L".tmp"));
  const fs::path record(detail::PathToNative(save_path_ + L".cfg"));
  downloader_->CloseFiles();
  std::error_code ec = MoveReplacing(tmp, save);
  if (ec) {
    // Reporting success here would hand over a file that is not at the save path.
    return boost::system::error_code(ec.value(), boost::system::system_category());
  }
  std::error_code ignored;
  fs::remove(record, ignored);  // a record left behind is harmless: the next start rereads it
  return {};
}

void DownloadObj::Stop() {
  DownloadTaskState expected = kTaskDownloading;
  if (!state_.compare_exchange_strong(expected, kTaskStopping)) return;
  downloader_->Stop();
  // The run may have finished meanwhile; its own state wins then.
  expected = kTaskStopping;
  state_.compare_exchange_strong(expected, kTaskStopped);
  NotifyStateChange();
}

void DownloadObj::set_state(DownloadTaskState s) {
  state_ = s;
  NotifyStateChange();
}

void DownloadObj::NotifyStateChange() {
  // Taking the mutex orders the change before a waiter's check, so no wake-up is lost.
  { std::lock_guard lock(state_mutex_); }
  state_changed_.notify_all();
}

bool DownloadObj::WaitForFinalState(std::chrono::milliseconds timeout) {
  std::unique_lock lock(state_mutex_);
  return state_changed_.wait_for(lock, timeout, [this] { return IsFinal(state_.load()); });
}

boost::system::error_code DownloadObj::error() const {
  std::lock_guard lock(error_mutex_);
  return error_;
}

void DownloadObj::SetError(const boost::system::error_code& ec) {
  std::lock_guard lock(error_mutex_);
  error_ = ec;
}

}  // namespace kvhttp
