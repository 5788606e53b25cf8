// Keeps the resume record up to date without holding up the network: a thread of its own takes
// the newest snapshot of the written ranges, makes the data durable (the sync callback) and
// only then writes the record naming that snapshot, so the record never names bytes that are
// not on the device. Syncs are at least `minSyncInterval` apart (the last one at Finish is
// not held back); snapshots that arrive in between replace each other, only the newest is
// written. A fast download so leaves most write-back to the kernel instead of forcing it.
//
// All operations from the thread that owns the keeper (the downloader's I/O thread, or any
// thread once that has stopped). The sync callback runs on the keeper's thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "kvhttp/download/PositionedFile.h"
#include "kvhttp/download/RangeSet.h"

namespace kvhttp::detail {

struct RecordSnapshot {
  std::string finalUrl;
  std::int64_t fileSize = 0;
  std::int64_t pieceSize = 0;
  std::string validator;
  std::vector<ByteRange> written;
};

class RecordKeeper {
 public:
  RecordKeeper() = default;
  ~RecordKeeper();
  RecordKeeper(const RecordKeeper&) = delete;
  RecordKeeper& operator=(const RecordKeeper&) = delete;

  // Starts keeping the record at `path`; `sync` makes what was written durable (true when it
  // did). `lastWritten` is the bitfield already in the record, so that an unchanged snapshot
  // costs nothing.
  void Begin(const std::wstring& path, std::function<bool()> sync, std::string lastWritten,
             std::chrono::milliseconds minSyncInterval = std::chrono::seconds(1));
  // Hands over the newest state; returns at once.
  void Submit(RecordSnapshot snapshot);
  // Writes what was submitted last (waiting for it), then stops the thread and closes the
  // record file.
  void Finish();
  // Drops what was submitted and not written yet, waits for a sync or write in progress, stops
  // the thread and closes the record file (before the record is deleted).
  void Discard();
  // Like Discard, but returns at once: a sync in progress goes on alone and nothing is written
  // after it. Only for a `sync` that owns what it uses (it may outlive the data's owner).
  void Abandon();
  bool running() const { return thread_.joinable(); }

 private:
  struct State;
  static void Run(State& state);
  void Stop(bool writeLast);

  std::shared_ptr<State> state_;
  std::thread thread_;
};

}  // namespace kvhttp::detail
