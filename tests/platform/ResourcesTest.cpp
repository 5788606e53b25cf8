#include "platform/Resources.h"

#include <gtest/gtest.h>

#include <string>

TEST(Resources, EmbeddedBytesAreFoundByTypeAndId) {
  auto r = platform::FindResource(platform::kResTypeRcData, platform::kResIdDomain);
  ASSERT_TRUE(r);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(r.data), r.size), "com_ru\r\n");
}

TEST(Resources, MissingTypeOrIdIsNotFound) {
  EXPECT_FALSE(platform::FindResource(platform::kResTypeZipRes, platform::kResIdDomain));
  EXPECT_FALSE(platform::FindResource(platform::kResTypeRcData, 999));
}
