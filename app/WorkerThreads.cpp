#include "app/WorkerThreads.h"

#include <system_error>
#include <thread>

#include "log/Log.h"

CWorkerThreads::CWorkerThreads() : state_(std::make_shared<State>()) {}

bool CWorkerThreads::Start(std::function<void()> body) {
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    ++state_->running;
  }
  try {
    std::thread([state = state_, body = std::move(body)]() mutable {
      body();
      // Whatever the body captured goes before the count says it is done.
      body = nullptr;
      std::lock_guard<std::mutex> lock(state->mutex);
      --state->running;
      state->done.notify_all();
    }).detach();
    return true;
  } catch (const std::system_error& e) {
    LOGA(LogLevelInfo, "cannot start a worker thread: %s", e.what());
    std::lock_guard<std::mutex> lock(state_->mutex);
    --state_->running;
    state_->done.notify_all();
    return false;
  }
}

bool CWorkerThreads::WaitAll(std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(state_->mutex);
  return state_->done.wait_for(lock, timeout, [this] { return state_->running == 0; });
}

int CWorkerThreads::Running() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->running;
}
