#include "kvhttp/download/PieceBitfield.h"

#include <gtest/gtest.h>

namespace kvhttp {
namespace {

using Ranges = std::vector<ByteRange>;

TEST(PieceBitfield, BitOrderAndPadding) {
  PieceBitfield b(10, std::string("\xA0\xFF", 2));
  EXPECT_EQ(b.bytes(), std::string("\xA0\xC0", 2));  // bits past the count cleared
  EXPECT_TRUE(b.get(0));
  EXPECT_FALSE(b.get(1));
  EXPECT_TRUE(b.get(2));
  EXPECT_TRUE(b.get(8));
  EXPECT_TRUE(b.get(9));
  EXPECT_FALSE(b.get(10));
  EXPECT_EQ(PieceBitfield::ByteCount(62), 8);
  PieceBitfield c(3);
  c.set(2);
  c.set(7);  // out of range: ignored
  EXPECT_EQ(c.bytes(), std::string("\x20", 1));
}

TEST(PieceBitfield, OnlyWholePiecesCountAndTheShortLastPieceCounts) {
  // 10 pieces of 100 bytes over 950 bytes: the last piece is 50 bytes.
  RangeSet r(950);
  r.mark(0, 250);    // pieces 0, 1 whole; 2 half
  r.mark(300, 400);  // piece 3
  r.mark(410, 500);  // piece 4 missing its first 10 bytes
  r.mark(900, 950);  // the short last piece
  PieceBitfield b = RangesToBitfield(r, 100);
  ASSERT_EQ(b.count(), 10);
  std::string bits;
  for (int i = 0; i < 10; ++i) bits += b.get(i) ? '1' : '0';
  EXPECT_EQ(bits, "1101000001");

  RangeSet back(950);
  back.mark(0, 950);  // replaced, not added to
  BitfieldToRanges(b, 100, back);
  EXPECT_EQ(back.ranges(), (Ranges{{0, 200}, {300, 400}, {900, 950}}));
  EXPECT_EQ(back.size(), 950);
}

TEST(PieceBitfield, FullSetRoundTripsToFull) {
  RangeSet r(1000000);
  r.mark(0, 1000000);
  PieceBitfield b = RangesToBitfield(r, 16384);
  EXPECT_EQ(b.count(), 62);
  EXPECT_EQ(b.bytes().size(), 8u);
  RangeSet back(1000000);
  BitfieldToRanges(b, 16384, back);
  EXPECT_TRUE(back.is_full());
}

TEST(PieceBitfield, LargeFilesUseSixtyFourBitOffsets) {
  const std::int64_t size = std::int64_t{5} * 1024 * 1024 * 1024 + 123;  // 5 GiB and a bit
  const std::int64_t piece = 16 * 1024 * 1024;
  RangeSet r(size);
  r.mark(size - 123, size);
  r.mark(std::int64_t{3} * 1024 * 1024 * 1024, std::int64_t{3} * 1024 * 1024 * 1024 + piece);
  PieceBitfield b = RangesToBitfield(r, piece);
  EXPECT_EQ(b.count(), 321);
  EXPECT_TRUE(b.get(320));
  EXPECT_TRUE(b.get(192));
  RangeSet back(size);
  BitfieldToRanges(b, piece, back);
  EXPECT_EQ(back.ranges(),
            (Ranges{{std::int64_t{3} << 30, (std::int64_t{3} << 30) + piece}, {size - 123, size}}));
}

TEST(PieceBitfield, BitsPastTheFileAndBadPieceSizesGiveNoRanges) {
  RangeSet r(100);
  PieceBitfield many(20, std::string(3, '\xFF'));
  BitfieldToRanges(many, 10, r);  // only 10 pieces fit
  EXPECT_TRUE(r.is_full());
  BitfieldToRanges(many, 0, r);
  EXPECT_EQ(r.total(), 0);
  EXPECT_EQ(RangesToBitfield(r, 0).count(), 0);
}

}  // namespace
}  // namespace kvhttp
