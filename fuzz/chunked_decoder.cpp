// The chunked decoder fed in pieces: the first two bytes choose the piece and buffer sizes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "kvhttp/net/detail/ChunkedDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::size_t step = data[0] % 64 + 1;
  const std::size_t capacity = data[1] % 128 + 1;
  data += 2;
  size -= 2;
  kvhttp::detail::ChunkedDecoder decoder;
  std::string out(capacity, '\0');
  std::size_t pos = 0;
  std::string pending;
  std::size_t total = 0;
  while (!decoder.done()) {
    if (pending.empty()) {
      if (pos >= size) break;
      const std::size_t n = std::min(step, size - pos);
      pending.assign(reinterpret_cast<const char*>(data + pos), n);
      pos += n;
    }
    std::size_t consumed = 0, produced = 0;
    boost::system::error_code ec;
    decoder.decode(pending.data(), pending.size(), out.data(), out.size(), consumed, produced, ec);
    if (consumed > pending.size() || produced > out.size()) std::abort();
    total += produced;
    if (total > size) std::abort();  // never more body than input
    pending.erase(0, consumed);
    if (ec && produced == 0) break;
    if (consumed == 0 && produced == 0 && !ec && !decoder.done()) std::abort();  // no progress
  }
  return 0;
}
