#include "kvhttp/download/detail/RecordKeeper.h"

#include "kvhttp/download/PieceBitfield.h"
#include "kvhttp/download/ResumeRecord.h"

namespace kvhttp::detail {

// Shared with the keeper's thread, which may outlive the keeper after Abandon.
struct RecordKeeper::State {
  std::mutex mutex;
  std::condition_variable wake;
  std::optional<RecordSnapshot> pending;  // guarded by mutex
  bool stopping = false;                  // guarded by mutex
  bool drop_pending = false;              // guarded by mutex
  // Taken around each record write, so that once Abandon has set `abandoned` nothing more is
  // written (the record may be deleted right after).
  std::mutex write_mutex;
  bool abandoned = false;  // guarded by write_mutex
  std::wstring path;
  std::function<bool()> sync;
  std::chrono::milliseconds min_sync_interval{0};
  std::string last_bitfield;  // the keeper's thread only
  PositionedFile file;        // the keeper's thread only
};

RecordKeeper::~RecordKeeper() {
  Discard();
}

void RecordKeeper::Begin(const std::wstring& path, std::function<bool()> sync,
                         std::string lastWritten, std::chrono::milliseconds minSyncInterval) {
  Discard();
  state_ = std::make_shared<State>();
  state_->path = path;
  state_->sync = std::move(sync);
  state_->min_sync_interval = minSyncInterval;
  state_->last_bitfield = std::move(lastWritten);
  thread_ = std::thread([state = state_] { Run(*state); });
}

void RecordKeeper::Submit(RecordSnapshot snapshot) {
  if (!state_) return;
  {
    std::lock_guard lock(state_->mutex);
    state_->pending = std::move(snapshot);
  }
  state_->wake.notify_one();
}

void RecordKeeper::Finish() {
  Stop(true);
}

void RecordKeeper::Discard() {
  Stop(false);
}

void RecordKeeper::Stop(bool writeLast) {
  if (!state_) return;
  {
    std::lock_guard lock(state_->mutex);
    state_->stopping = true;
    state_->drop_pending = !writeLast;
  }
  state_->wake.notify_one();
  if (thread_.joinable()) thread_.join();
  state_.reset();
}

void RecordKeeper::Abandon() {
  if (!state_) return;
  {
    std::lock_guard lock(state_->write_mutex);
    state_->abandoned = true;
  }
  {
    std::lock_guard lock(state_->mutex);
    state_->stopping = true;
    state_->drop_pending = true;
  }
  state_->wake.notify_one();
  if (thread_.joinable()) thread_.detach();
  state_.reset();
}

void RecordKeeper::Run(State& state) {
  auto nextSync = std::chrono::steady_clock::now();
  for (;;) {
    RecordSnapshot snapshot;
    {
      std::unique_lock lock(state.mutex);
      state.wake.wait(lock, [&state] { return state.pending.has_value() || state.stopping; });
      state.wake.wait_until(lock, nextSync, [&state] { return state.stopping; });
      if (state.drop_pending) state.pending.reset();
      if (!state.pending) break;
      snapshot = std::move(*state.pending);
      state.pending.reset();
    }
    if (snapshot.pieceSize <= 0 || snapshot.fileSize < 0) continue;
    ResumeRecordContent content;
    content.finalUrl = std::move(snapshot.finalUrl);
    content.fileSize = snapshot.fileSize;
    content.pieceSize = snapshot.pieceSize;
    content.validator = std::move(snapshot.validator);
    RangeSet written(content.fileSize);
    written.assign(snapshot.written);
    content.bitfield = RangesToBitfield(written, content.pieceSize);
    if (content.bitfield.bytes() == state.last_bitfield) continue;
    // Every byte of the snapshot was written before it was taken: after the sync it is on the
    // device, and the record may name it.
    nextSync = std::chrono::steady_clock::now() + state.min_sync_interval;
    if (state.sync && !state.sync()) continue;
    std::lock_guard lock(state.write_mutex);
    if (state.abandoned) break;
    if (WriteResumeRecord(state.file, state.path, content))
      state.last_bitfield = content.bitfield.bytes();
  }
  state.file.close();
}

}  // namespace kvhttp::detail
