#pragma once

#include <array>
#include <cstdint>

namespace platform {

struct Guid {
  std::uint32_t data1;
  std::uint16_t data2;
  std::uint16_t data3;
  std::array<std::uint8_t, 8> data4;
};

// A random RFC 4122 version 4 GUID; false only when no randomness could be had. Any thread.
bool CreateGuid(Guid& out);

}  // namespace platform
