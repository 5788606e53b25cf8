#include "kvhttp/download/RangeSet.h"

namespace kvhttp {

RangeSet::RangeSet(std::int64_t size) : size_(size) {}

void RangeSet::reset(std::int64_t size) {
  std::lock_guard lock(mutex_);
  size_ = size;
  map_.clear();
  mergePending_ = false;
}

std::int64_t RangeSet::size() const {
  std::lock_guard lock(mutex_);
  return size_;
}

bool RangeSet::mark(std::int64_t first, std::int64_t end) {
  std::lock_guard lock(mutex_);
  if (first < 0 || first >= end || end > size_) return false;
  // Sequential writes extend the range just before them; joining here keeps the map small
  // between merges without changing what the set holds.
  if (!map_.empty()) {
    auto it = map_.lower_bound(first);
    if (it != map_.begin()) {
      auto prev = std::prev(it);
      if (prev->second == first && (it == map_.end() || it->first > end)) {
        prev->second = end;
        mergePending_ = true;
        return true;
      }
    }
  }
  // A range with the same start is widened, never narrowed: narrowing would forget bytes
  // that are on disk, and the set would never become full.
  auto [it, inserted] = map_.emplace(first, end);
  if (!inserted && it->second < end) it->second = end;
  mergePending_ = true;
  return true;
}

void RangeSet::MergeLocked() {
  if (!mergePending_) return;
  std::map<std::int64_t, std::int64_t> merged;
  auto out = merged.end();
  for (const auto& [start, end] : map_) {
    if (out != merged.end() && start <= out->second) {
      if (end > out->second) out->second = end;
    } else {
      out = merged.emplace_hint(merged.end(), start, end);
    }
  }
  map_.swap(merged);
  mergePending_ = false;
}

std::vector<ByteRange> RangeSet::ranges() {
  std::lock_guard lock(mutex_);
  MergeLocked();
  std::vector<ByteRange> out;
  out.reserve(map_.size());
  for (const auto& [s, e] : map_) out.push_back({s, e});
  return out;
}

std::vector<ByteRange> RangeSet::free_gaps() {
  std::lock_guard lock(mutex_);
  MergeLocked();
  std::vector<ByteRange> out;
  std::int64_t at = 0;
  for (const auto& [s, e] : map_) {
    if (s > at) out.push_back({at, s});
    at = std::max(at, e);
  }
  if (at < size_) out.push_back({at, size_});
  return out;
}

std::optional<ByteRange> RangeSet::first_free_gap(std::int64_t offset) {
  std::vector<ByteRange> gaps = free_gaps();
  if (gaps.empty()) return std::nullopt;
  for (const ByteRange& g : gaps) {
    if (g.end > offset) return ByteRange{std::max(g.start, offset), g.end};
  }
  return gaps.front();
}

bool RangeSet::is_full() {
  std::lock_guard lock(mutex_);
  MergeLocked();
  return map_.size() == 1 && map_.begin()->first == 0 && map_.begin()->second == size_;
}

std::int64_t RangeSet::total() {
  std::lock_guard lock(mutex_);
  MergeLocked();
  std::int64_t sum = 0;
  for (const auto& [s, e] : map_) sum += e - s;
  return sum;
}

void RangeSet::assign(const std::vector<ByteRange>& ranges) {
  std::lock_guard lock(mutex_);
  map_.clear();
  for (const ByteRange& r : ranges) {
    if (r.start >= 0 && r.start < r.end && r.end <= size_) map_[r.start] = r.end;
  }
  mergePending_ = true;
}

}  // namespace kvhttp
