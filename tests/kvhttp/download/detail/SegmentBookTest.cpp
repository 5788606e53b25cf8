#include "kvhttp/download/detail/SegmentBook.h"

#include <gtest/gtest.h>

namespace kvhttp::detail {
namespace {

TEST(SegmentBook, RangesAreHandedOutOnceAndWhatIsNotWrittenComesBack) {
  SegmentBook book;
  book.Reset(1000);
  auto a = book.CheckOut(300);
  auto b = book.CheckOut(300);
  ASSERT_TRUE(a && b);
  EXPECT_EQ(*a, (ByteRange{0, 300}));
  EXPECT_EQ(*b, (ByteRange{300, 600}));
  // Half of a is written; a fails and is given back: only its missing half is free again.
  EXPECT_TRUE(book.MarkWritten(0, 150));
  book.Return(*a);
  EXPECT_EQ(book.NextFree(0), 150);
  auto c = book.CheckOut(1000);
  ASSERT_TRUE(c);
  EXPECT_EQ(*c, (ByteRange{150, 300})) << "up to the next held range";
  EXPECT_FALSE(book.CheckOutAt(300, 100, 1000)) << "held by b";
  auto d = book.CheckOutAt(600, 1000, 800);
  ASSERT_TRUE(d);
  EXPECT_EQ(*d, (ByteRange{600, 800})) << "cut at the limit";
  EXPECT_EQ(book.NextFree(0), 800);
  EXPECT_EQ(book.FirstMissing(), 150);
}

TEST(SegmentBook, WrittenRangesJoinAndCompleteTheFile) {
  SegmentBook book;
  book.Reset(100);
  EXPECT_FALSE(book.MarkWritten(90, 101)) << "past the end";
  EXPECT_FALSE(book.MarkWritten(10, 10));
  EXPECT_TRUE(book.MarkWritten(50, 100));
  EXPECT_TRUE(book.MarkWritten(0, 20));
  EXPECT_TRUE(book.MarkWritten(10, 40));  // overlapping
  EXPECT_EQ(book.WrittenBytes(), 90);
  EXPECT_FALSE(book.IsComplete());
  EXPECT_TRUE(book.MarkWritten(40, 50));  // touching on both sides
  EXPECT_EQ(book.WrittenRanges(), (std::vector<ByteRange>{{0, 100}}));
  EXPECT_TRUE(book.IsComplete());
  EXPECT_FALSE(book.CheckOut(10));

  book.Reset(0);
  EXPECT_TRUE(book.IsComplete()) << "an empty file is complete at once";
}

TEST(SegmentBook, UnknownSizeGrowsWithWhatIsWritten) {
  SegmentBook book;
  book.Reset(SegmentBook::kUnknownSize);
  auto all = book.CheckOut(INT64_MAX);
  ASSERT_TRUE(all);
  EXPECT_EQ(all->start, 0);
  EXPECT_TRUE(book.MarkWritten(0, 5000));
  EXPECT_FALSE(book.IsComplete());
  book.SetSize(5000);
  EXPECT_TRUE(book.IsComplete());

  // A record's ranges beyond the file are dropped.
  book.Reset(100);
  book.LoadWritten({{0, 10}, {90, 120}, {200, 300}});
  EXPECT_EQ(book.WrittenRanges(), (std::vector<ByteRange>{{0, 10}, {90, 100}}));
}

}  // namespace
}  // namespace kvhttp::detail
