#include "platform/Guid.h"

#include <sys/random.h>

#include <cerrno>
#include <cstring>

namespace platform {

bool CreateGuid(Guid& out) {
  unsigned char b[16];
  std::size_t got = 0;
  while (got < sizeof b) {
    ssize_t n = ::getrandom(b + got, sizeof b - got, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    got += static_cast<std::size_t>(n);
  }
  out.data1 =
      (std::uint32_t{b[0]} << 24) | (std::uint32_t{b[1]} << 16) | (std::uint32_t{b[2]} << 8) | b[3];
  out.data2 = static_cast<std::uint16_t>((b[4] << 8) | b[5]);
  // Version 4 (random) in the high nibble of data3, variant 10xx in data4[0].
  out.data3 = static_cast<std::uint16_t>((((b[6] & 0x0F) | 0x40) << 8) | b[7]);
  out.data4[0] = static_cast<std::uint8_t>((b[8] & 0x3F) | 0x80);
  for (int i = 1; i < 8; ++i) out.data4[i] = b[8 + i];
  return true;
}

}  // namespace platform
