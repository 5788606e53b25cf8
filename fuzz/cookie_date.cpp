// Cookie dates: any text, never a crash or an overflow.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "kvhttp/net/Cookies.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::int64_t t = 0;
  const bool ok = kvhttp::ParseCookieDate(text, t);
  if (ok && t == -1 && kvhttp::ParseCookieDate(text) != -1) std::abort();
  if (!ok && kvhttp::ParseCookieDate(text) != -1) std::abort();
  return 0;
}
