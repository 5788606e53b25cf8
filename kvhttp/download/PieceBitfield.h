// Which pieces of a file are on disk: one bit per piece, the first piece in the most significant
// bit of the first byte. Plain value; any thread.
#pragma once

#include <cstdint>
#include <string>

#include "kvhttp/download/RangeSet.h"

namespace kvhttp {

class PieceBitfield {
 public:
  PieceBitfield() = default;
  explicit PieceBitfield(std::int64_t count);
  // The first ceil(count / 8) bytes of `bytes`; bits beyond `count` are cleared. The caller
  // makes sure enough bytes are given (missing bytes count as clear bits).
  PieceBitfield(std::int64_t count, const std::string& bytes);

  std::int64_t count() const { return count_; }
  bool get(std::int64_t i) const;
  void set(std::int64_t i);
  const std::string& bytes() const { return bytes_; }

  static std::int64_t ByteCount(std::int64_t count) { return (count + 7) / 8; }

 private:
  std::int64_t count_ = 0;
  std::string bytes_;
};

// Pieces of `pieceSize` bytes over [0, ranges.size()); the last may be shorter. A bit is set
// when one range holds the whole piece. `pieceSize` must be positive.
PieceBitfield RangesToBitfield(RangeSet& ranges, std::int64_t pieceSize);
// Replaces the contents of `ranges` (keeping its size) by the runs of set bits.
void BitfieldToRanges(const PieceBitfield& bitfield, std::int64_t pieceSize, RangeSet& ranges);

}  // namespace kvhttp
