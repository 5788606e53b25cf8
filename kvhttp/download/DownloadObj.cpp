#include "kvhttp/download/DownloadObj.h"

#include <fcntl.h>
#include <openssl/crypto.h>
#include <unistd.h>

#include <boost/system/system_error.hpp>
#include <cerrno>
#include <filesystem>
#include <vector>

#include "kvhttp/download/detail/OutputLock.h"
#include "kvhttp/download/detail/PathText.h"

namespace kvhttp {

namespace fs = std::filesystem;

namespace {

bool IsFinal(DownloadTaskState s) {
  return s == kTaskFinished || s == kTaskFailed || s == kTaskStopped;
}

// Copies `from` to a new `to` with descriptors no child process inherits.
std::error_code CopyFile(const fs::path& from, const fs::path& to) {
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return {errno, std::system_category()};
  const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (out < 0) {
    const int e = errno;
    ::close(in);
    return {e, std::system_category()};
  }
  std::vector<char> buffer(1 << 20);
  std::error_code ec;
  for (;;) {
    const ssize_t n = ::read(in, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n < 0) ec = {errno, std::system_category()};
      break;
    }
    for (ssize_t done = 0; done < n;) {
      const ssize_t w = ::write(out, buffer.data() + done, static_cast<std::size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w < 0) {
        ec = {errno, std::system_category()};
        break;
      }
      done += w;
    }
    if (ec) break;
  }
  ::close(in);
  if (::close(out) != 0 && !ec) ec = {errno, std::system_category()};
  return ec;
}

// Moves `from` over `to`, copying when they lie on different file systems. The data is not
// forced to the device first (no peer tool does, and it would cost the whole write-back
// time): after a power cut the file may be short, which its digest check finds.
std::error_code MoveReplacing(const fs::path& from, const fs::path& to) {
  std::error_code ec;
  fs::rename(from, to, ec);
  if (!ec || ec != std::errc::cross_device_link) return ec;
  const fs::path part = to.string() + ".part";
  ec = CopyFile(from, part);
  if (ec) {
    std::error_code ignored;
    fs::remove(part, ignored);
    return ec;
  }
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
  if (!running_.compare_exchange_strong(expected, true)) return false;
  stop_pending_ = false;
  return true;
}

bool DownloadObj::Reconfigure(const ProxySettings& proxy, std::int64_t expectedSize) {
  std::lock_guard lock(settings_mutex_);
  if (running_) return false;
  settings_.proxy = proxy;
  settings_.expected_size = expectedSize;
  return true;
}

DownloadSettings DownloadObj::settings() {
  std::lock_guard lock(settings_mutex_);
  return settings_;
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
  DownloadTaskState end = kTaskFailed;
  try {
    end = RunDownload();
  } catch (...) {
    SetError(make_error_code(boost::system::errc::state_not_recoverable));
    io_.stop();
    io_.restart();
    downloader_->Stop();
    downloader_->CloseFiles();
  }
  // The run is over before anyone learns its end, so that a next request can reconfigure and
  // start the task at once. This thread's TLS state (random generators, error queue) goes now
  // too: a program that exits once it learns the end must not race the thread's own clean-up.
  OPENSSL_thread_stop();
  running_ = false;
  set_state(end);
}

DownloadTaskState DownloadObj::RunDownload() {
  set_state(kTaskStarting);
  const DownloadSettings settings = this->settings();
  // Held until the finished file has its name, so that no other run can take the data file
  // in between.
  detail::OutputLock lock;
  boost::system::error_code ec;
  if (!lock.Acquire(settings.output_file, ec)) {
    SetError(ec);
    return kTaskFailed;
  }
  downloader_->Start(url_, settings, ec);
  if (ec) {
    SetError(ec);
    io_.stop();
    io_.restart();
    downloader_->Stop();
    downloader_->CloseFiles();
    return stop_pending_ ? kTaskStopped : kTaskFailed;
  }
  set_state(kTaskDownloading);
  // A stop that came while the start ran takes effect now.
  if (stop_pending_) downloader_->Stop();
  io_.run();
  switch (downloader_->Outcome()) {
    case download_outcome::complete: {
      const boost::system::error_code moveError = FinishFiles();
      SetError(moveError);
      return moveError ? kTaskFailed : kTaskFinished;
    }
    case download_outcome::failed:
      SetError(downloader_->LastError());
      return kTaskFailed;
    default:
      SetError(downloader_->LastError());
      return kTaskStopped;
  }
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
  DownloadTaskState expected = kTaskStarting;
  if (state_.load() == kTaskStarting && running_) {
    // The start may be inside its first open: remembered, and that open is cut short.
    stop_pending_ = true;
    downloader_->Stop();
    return;
  }
  expected = kTaskDownloading;
  if (!state_.compare_exchange_strong(expected, kTaskStopping)) return;
  NotifyStateChange();
  // The run shows its own end (stopped, or finished when it won the race) once it is over, so
  // that nobody sees a final state while the run still holds the files.
  downloader_->Stop();
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

bool DownloadObj::WaitForEndingRun(std::chrono::milliseconds timeout) {
  std::unique_lock lock(state_mutex_);
  return state_changed_.wait_for(lock, timeout, [this] {
    const DownloadTaskState s = state_.load();
    return !running_.load() || !(s == kTaskStopping || IsFinal(s));
  });
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
