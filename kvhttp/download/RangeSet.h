// A set of half-open byte ranges inside [0, size), kept as a map from start to end. Touching and
// overlapping ranges are joined lazily, before any query. Every operation takes the set's own
// mutex, so any thread may call any of them.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

namespace kvhttp {

struct ByteRange {
  std::int64_t start;
  std::int64_t end;  // exclusive
  bool operator==(const ByteRange&) const = default;
};

class RangeSet {
 public:
  explicit RangeSet(std::int64_t size = 0);

  void reset(std::int64_t size);
  std::int64_t size() const;
  // Adds [first, end) when 0 <= first < end <= size (an entry with the same start grows to
  // cover both); false otherwise.
  bool mark(std::int64_t first, std::int64_t end);
  // The ranges, joined.
  std::vector<ByteRange> ranges();
  // The complement inside [0, size), in order.
  std::vector<ByteRange> free_gaps();
  // The first gap that contains `offset` (cut to start there) or lies after it; when none does,
  // the first gap; nothing when the set is full.
  std::optional<ByteRange> first_free_gap(std::int64_t offset);
  bool is_full();
  std::int64_t total();
  // Empties the set and takes `ranges` (which need not be joined) as its contents.
  void assign(const std::vector<ByteRange>& ranges);

 private:
  void MergeLocked();

  mutable std::mutex mutex_;
  std::int64_t size_;
  std::map<std::int64_t, std::int64_t> map_;
  bool mergePending_ = false;
};

}  // namespace kvhttp
