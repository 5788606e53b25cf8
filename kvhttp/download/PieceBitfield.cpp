#include "kvhttp/download/PieceBitfield.h"

#include <algorithm>

namespace kvhttp {

PieceBitfield::PieceBitfield(std::int64_t count)
    : count_(std::max<std::int64_t>(count, 0)),
      bytes_(static_cast<std::size_t>(ByteCount(count_)), '\0') {}

PieceBitfield::PieceBitfield(std::int64_t count, const std::string& bytes) : PieceBitfield(count) {
  std::size_t n = std::min(bytes_.size(), bytes.size());
  std::copy_n(bytes.begin(), n, bytes_.begin());
  if (count_ % 8 != 0 && !bytes_.empty()) {
    unsigned keep = 0xFFu << (8 - count_ % 8);
    bytes_.back() = static_cast<char>(static_cast<unsigned char>(bytes_.back()) & keep);
  }
}

bool PieceBitfield::get(std::int64_t i) const {
  if (i < 0 || i >= count_) return false;
  return (static_cast<unsigned char>(bytes_[static_cast<std::size_t>(i / 8)]) >> (7 - i % 8)) & 1;
}

void PieceBitfield::set(std::int64_t i) {
  if (i < 0 || i >= count_) return;
  auto& b = bytes_[static_cast<std::size_t>(i / 8)];
  b = static_cast<char>(static_cast<unsigned char>(b) | (0x80u >> (i % 8)));
}

PieceBitfield RangesToBitfield(RangeSet& ranges, std::int64_t pieceSize) {
  const std::int64_t size = ranges.size();
  if (pieceSize <= 0 || size <= 0) return PieceBitfield(0);
  const std::int64_t pieces = (size + pieceSize - 1) / pieceSize;
  PieceBitfield bits(pieces);
  for (const ByteRange& r : ranges.ranges()) {
    // Whole pieces inside [start, end): from the first piece starting at or after `start` to
    // the last one ending at or before `end` (the short last piece ends at the size).
    std::int64_t first = (r.start + pieceSize - 1) / pieceSize;
    std::int64_t last = r.end == size ? pieces : r.end / pieceSize;  // exclusive
    for (std::int64_t i = first; i < last; ++i) bits.set(i);
  }
  return bits;
}

void BitfieldToRanges(const PieceBitfield& bitfield, std::int64_t pieceSize, RangeSet& ranges) {
  const std::int64_t size = ranges.size();
  std::vector<ByteRange> out;
  if (pieceSize > 0 && size > 0) {
    for (std::int64_t i = 0; i < bitfield.count();) {
      if (!bitfield.get(i)) {
        ++i;
        continue;
      }
      if (i > (size - 1) / pieceSize) break;  // bits past the end of the file
      std::int64_t j = i;
      while (j + 1 < bitfield.count() && bitfield.get(j + 1)) ++j;
      std::int64_t start = i * pieceSize;
      std::int64_t end = std::min((j + 1) * pieceSize, size);
      if (start < end) out.push_back({start, end});
      i = j + 1;
    }
  }
  ranges.assign(out);
}

}  // namespace kvhttp
