#include "kvhttp/download/detail/SegmentBook.h"

#include <algorithm>
#include <limits>

namespace kvhttp::detail {

namespace {
constexpr std::int64_t kNoEnd = std::numeric_limits<std::int64_t>::max();
}

void SegmentBook::Reset(std::int64_t size) {
  std::lock_guard lock(mutex_);
  size_ = size < 0 ? kUnknownSize : size;
  written_.clear();
  written_bytes_ = 0;
  held_.clear();
}

std::int64_t SegmentBook::Size() const {
  std::lock_guard lock(mutex_);
  return size_;
}

void SegmentBook::SetSize(std::int64_t size) {
  std::lock_guard lock(mutex_);
  size_ = size < 0 ? kUnknownSize : size;
}

std::int64_t SegmentBook::LimitLocked() const {
  return size_ < 0 ? kNoEnd : size_;
}

void SegmentBook::LoadWritten(const std::vector<ByteRange>& ranges) {
  for (const ByteRange& r : ranges) {
    const std::int64_t end = std::min(r.end, Size() < 0 ? kNoEnd : Size());
    if (r.start >= 0 && r.start < end) MarkWritten(r.start, end);
  }
}

std::int64_t SegmentBook::NextFreeLocked(std::int64_t at) const {
  const std::int64_t limit = LimitLocked();
  for (;;) {
    if (at >= limit) return -1;
    bool moved = false;
    // A written range covering `at`: jump past it.
    auto it = written_.upper_bound(at);
    if (it != written_.begin()) {
      auto prev = std::prev(it);
      if (prev->second > at) {
        at = prev->second;
        moved = true;
      }
    }
    for (const ByteRange& h : held_) {
      if (h.start <= at && at < h.end) {
        at = h.end;
        moved = true;
      }
    }
    if (!moved) return at;
  }
}

std::int64_t SegmentBook::FreeEndLocked(std::int64_t at) const {
  std::int64_t end = LimitLocked();
  auto it = written_.upper_bound(at);
  if (it != written_.end()) end = std::min(end, it->first);
  for (const ByteRange& h : held_)
    if (h.start > at) end = std::min(end, h.start);
  return end;
}

std::optional<ByteRange> SegmentBook::CheckOut(std::int64_t maxLength) {
  std::lock_guard lock(mutex_);
  const std::int64_t at = NextFreeLocked(0);
  if (at < 0 || maxLength <= 0) return std::nullopt;
  const std::int64_t end = std::min(FreeEndLocked(at), at + std::min(maxLength, kNoEnd - at));
  held_.push_back({at, end});
  return ByteRange{at, end};
}

std::optional<ByteRange> SegmentBook::CheckOutAt(std::int64_t at, std::int64_t maxLength,
                                                 std::int64_t limit) {
  std::lock_guard lock(mutex_);
  if (at < 0 || maxLength <= 0 || at >= limit || NextFreeLocked(at) != at) return std::nullopt;
  std::int64_t end = std::min(FreeEndLocked(at), limit);
  end = std::min(end, at + std::min(maxLength, kNoEnd - at));
  held_.push_back({at, end});
  return ByteRange{at, end};
}

std::int64_t SegmentBook::NextFree(std::int64_t at) const {
  std::lock_guard lock(mutex_);
  return NextFreeLocked(std::max<std::int64_t>(at, 0));
}

void SegmentBook::Return(const ByteRange& held) {
  std::lock_guard lock(mutex_);
  auto it = std::find(held_.begin(), held_.end(), held);
  if (it != held_.end()) held_.erase(it);
}

bool SegmentBook::MarkWritten(std::int64_t first, std::int64_t end) {
  std::lock_guard lock(mutex_);
  if (first < 0 || first >= end || end > LimitLocked()) return false;
  // Join with every range that overlaps or touches [first, end).
  auto it = written_.upper_bound(first);
  if (it != written_.begin() && std::prev(it)->second >= first) --it;
  while (it != written_.end() && it->first <= end) {
    first = std::min(first, it->first);
    end = std::max(end, it->second);
    written_bytes_ -= it->second - it->first;
    it = written_.erase(it);
  }
  written_.emplace(first, end);
  written_bytes_ += end - first;
  return true;
}

std::int64_t SegmentBook::WrittenBytes() const {
  std::lock_guard lock(mutex_);
  return written_bytes_;
}

std::vector<ByteRange> SegmentBook::WrittenRanges() const {
  std::lock_guard lock(mutex_);
  std::vector<ByteRange> out;
  out.reserve(written_.size());
  for (const auto& [s, e] : written_) out.push_back({s, e});
  return out;
}

std::int64_t SegmentBook::FirstMissing() const {
  std::lock_guard lock(mutex_);
  if (written_.empty() || written_.begin()->first > 0) return 0;
  return written_.begin()->second;
}

bool SegmentBook::IsComplete() const {
  std::lock_guard lock(mutex_);
  if (size_ < 0) return false;
  if (size_ == 0) return true;
  return written_.size() == 1 && written_.begin()->first == 0 && written_.begin()->second == size_;
}

}  // namespace kvhttp::detail
