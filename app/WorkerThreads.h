// The controller's worker threads: detached, counted, and waited for before what they use goes
// away (the controller waits in its destructor, the process entry with a time limit first).
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

class CWorkerThreads {
 public:
  CWorkerThreads();
  CWorkerThreads(const CWorkerThreads&) = delete;
  CWorkerThreads& operator=(const CWorkerThreads&) = delete;

  // Runs body on a detached thread of its own; false (nothing runs) when no thread can be
  // made. Any thread.
  bool Start(std::function<void()> body);
  // Waits until every body started so far has returned; false when the time ran out first.
  // Any thread but a worker's own.
  bool WaitAll(std::chrono::milliseconds timeout) const;
  // Bodies that have not returned yet. Any thread.
  int Running() const;

 private:
  // Shared with the threads, so the last one can still signal after this object has gone.
  struct State {
    mutable std::mutex mutex;
    mutable std::condition_variable done;
    int running = 0;
  };
  std::shared_ptr<State> state_;
};
