#include "platform/Guid.h"

// What the test itself uses.
#include <gtest/gtest.h>

#include <set>
#include <tuple>

TEST(Guid, RandomVersionFourWithTheStandardVariant) {
  std::set<std::tuple<std::uint32_t, std::uint16_t, std::uint16_t, std::uint64_t>> seen;
  for (int i = 0; i < 1000; ++i) {
    platform::Guid g{};
    ASSERT_TRUE(platform::CreateGuid(g));
    EXPECT_EQ(g.data3 >> 12, 4);
    EXPECT_EQ(g.data4[0] >> 6, 2);
    std::uint64_t tail = 0;
    for (auto b : g.data4) tail = (tail << 8) | b;
    seen.emplace(g.data1, g.data2, g.data3, tail);
  }
  EXPECT_EQ(seen.size(), 1000u);
}
