// Which bytes of the file are written and which a connection is fetching: the one owner of the
// download's byte bookkeeping. Connections check ranges out, report what reached the storage and
// give back what they did not finish; nothing else decides where bytes go.
//
// Thread-safe (one mutex): the I/O thread changes it, progress queries read it from any thread.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

#include "kvhttp/download/RangeSet.h"

namespace kvhttp::detail {

class SegmentBook {
 public:
  static constexpr std::int64_t kUnknownSize = -1;

  // Forgets everything. With an unknown size the written bytes grow the file (one body read
  // from its start); SetSize fixes the size later.
  void Reset(std::int64_t size);
  std::int64_t Size() const;
  void SetSize(std::int64_t size);

  // Takes `ranges` as written (from a resume record); parts outside the file are dropped.
  void LoadWritten(const std::vector<ByteRange>& ranges);

  // The first bytes that are neither written nor held, at most `maxLength` of them; they are
  // held from now on. Nothing when every byte is written or held.
  std::optional<ByteRange> CheckOut(std::int64_t maxLength);
  // The same, starting exactly at `at` and ending by `limit` (exclusive); nothing when byte `at`
  // is written or held.
  std::optional<ByteRange> CheckOutAt(std::int64_t at, std::int64_t maxLength, std::int64_t limit);
  // The first byte at or after `at` that is neither written nor held, -1 when there is none.
  std::int64_t NextFree(std::int64_t at) const;
  // Gives back a range from CheckOut/CheckOutAt; what of it is not written becomes free.
  void Return(const ByteRange& held);

  // Records [first, end) as on the storage. False (nothing recorded) for a range outside the
  // file.
  bool MarkWritten(std::int64_t first, std::int64_t end);

  std::int64_t WrittenBytes() const;
  std::vector<ByteRange> WrittenRanges() const;
  // The first byte not written (the size when complete).
  std::int64_t FirstMissing() const;
  // The size is known and every byte is written (a file of size 0 is complete at once).
  bool IsComplete() const;

 private:
  std::int64_t NextFreeLocked(std::int64_t at) const;
  // Where the free run starting at `at` ends.
  std::int64_t FreeEndLocked(std::int64_t at) const;
  std::int64_t LimitLocked() const;

  mutable std::mutex mutex_;
  std::int64_t size_ = 0;
  std::map<std::int64_t, std::int64_t> written_;  // start -> end, joined, never touching
  std::int64_t written_bytes_ = 0;
  std::vector<ByteRange> held_;
};

}  // namespace kvhttp::detail
