#include "kvhttp/download/RangeSet.h"

#include <gtest/gtest.h>

#include <thread>

namespace kvhttp {
namespace {

using Ranges = std::vector<ByteRange>;

TEST(RangeSet, MarkRejectsRangesOutsideTheSet) {
  RangeSet s(100);
  EXPECT_FALSE(s.mark(-1, 5));
  EXPECT_FALSE(s.mark(5, 5));
  EXPECT_FALSE(s.mark(6, 5));
  EXPECT_FALSE(s.mark(90, 101));
  EXPECT_TRUE(s.mark(90, 100));
  EXPECT_EQ(s.ranges(), (Ranges{{90, 100}}));
}

TEST(RangeSet, JoinsTouchingAndOverlappingRanges) {
  RangeSet s(100);
  s.mark(10, 20);
  s.mark(20, 30);  // touching
  s.mark(25, 40);  // overlapping
  s.mark(60, 70);
  s.mark(0, 5);
  s.mark(10, 12);  // same start, shorter: contained after the join
  EXPECT_EQ(s.ranges(), (Ranges{{0, 5}, {10, 40}, {60, 70}}));
  EXPECT_EQ(s.total(), 5 + 30 + 10);
  EXPECT_EQ(s.free_gaps(), (Ranges{{5, 10}, {40, 60}, {70, 100}}));
  EXPECT_FALSE(s.is_full());
  s.mark(5, 10);
  s.mark(40, 60);
  s.mark(70, 100);
  EXPECT_TRUE(s.is_full());
  EXPECT_TRUE(s.free_gaps().empty());
  EXPECT_FALSE(s.first_free_gap(0).has_value());
  s.reset(50);
  EXPECT_EQ(s.size(), 50);
  EXPECT_EQ(s.total(), 0);
  EXPECT_EQ(s.free_gaps(), (Ranges{{0, 50}}));
}

TEST(RangeSet, FirstFreeGapFromAnOffset) {
  RangeSet s(100);
  s.mark(0, 10);
  s.mark(20, 30);
  s.mark(50, 100);
  EXPECT_EQ(*s.first_free_gap(0), (ByteRange{10, 20}));
  EXPECT_EQ(*s.first_free_gap(15), (ByteRange{15, 20}));  // cut to start at the offset
  EXPECT_EQ(*s.first_free_gap(20), (ByteRange{30, 50}));
  EXPECT_EQ(*s.first_free_gap(70), (ByteRange{10, 20}));  // none after: the first gap
}

TEST(RangeSet, ManySmallSequentialMarksFromSeveralThreads) {
  RangeSet s(4 * 1024 * 1024);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&s, t] {
      const std::int64_t base = std::int64_t{t} * 1024 * 1024;
      for (std::int64_t off = 0; off < 1024 * 1024; off += 2048)
        s.mark(base + off, base + off + 2048);
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_TRUE(s.is_full());
  EXPECT_EQ(s.total(), 4 * 1024 * 1024);
}

}  // namespace
}  // namespace kvhttp
