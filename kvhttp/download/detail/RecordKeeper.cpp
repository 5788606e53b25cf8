#include "kvhttp/download/detail/RecordKeeper.h"

#include "kvhttp/download/PieceBitfield.h"
#include "kvhttp/download/ResumeRecord.h"

namespace kvhttp::detail {

RecordKeeper::~RecordKeeper() {
  Discard();
}

void RecordKeeper::Begin(const std::wstring& path, std::function<bool()> sync,
                         std::string lastWritten) {
  Discard();
  path_ = path;
  sync_ = std::move(sync);
  last_bitfield_ = std::move(lastWritten);
  {
    std::lock_guard lock(mutex_);
    pending_.reset();
    stopping_ = false;
    drop_pending_ = false;
  }
  thread_ = std::thread([this] { Run(); });
}

void RecordKeeper::Submit(RecordSnapshot snapshot) {
  if (!thread_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    pending_ = std::move(snapshot);
  }
  wake_.notify_one();
}

void RecordKeeper::Finish() {
  Stop(true);
}

void RecordKeeper::Discard() {
  Stop(false);
}

void RecordKeeper::Stop(bool writeLast) {
  if (!thread_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    drop_pending_ = !writeLast;
  }
  wake_.notify_one();
  thread_.join();
  file_.close();
}

void RecordKeeper::Run() {
  for (;;) {
    RecordSnapshot snapshot;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return pending_.has_value() || stopping_; });
      if (drop_pending_) pending_.reset();
      if (!pending_) return;
      snapshot = std::move(*pending_);
      pending_.reset();
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
    if (content.bitfield.bytes() == last_bitfield_) continue;
    // Every byte of the snapshot was written before it was taken: after the sync it is on the
    // device, and the record may name it.
    if (sync_ && !sync_()) continue;
    if (WriteResumeRecord(file_, path_, content)) last_bitfield_ = content.bitfield.bytes();
  }
}

}  // namespace kvhttp::detail
