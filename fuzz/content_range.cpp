// Content-Range and the body window of a response: any header values, never a crash, and what
// is accepted describes a non-empty range inside the file.
// Input: one header line per line ("Name: value"), the first line's first byte choosing the
// status (even: 206, odd: 200).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "kvhttp/download/detail/ContentRange.h"
#include "kvhttp/download/detail/ResponseWindow.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  const int status = !in.empty() && (static_cast<unsigned char>(in[0]) & 1) ? 200 : 206;

  kvhttp::detail::ContentRange range;
  if (kvhttp::detail::ParseContentRange(in, range)) {
    if (range.first < 0 || range.last < range.first) std::abort();
    if (range.total != -1 && range.total <= range.last) std::abort();
  }
  std::int64_t n = 0;
  if (kvhttp::detail::ParseDecimal(in, n) && n < 0) std::abort();

  kvhttp::RequestOptions headers;
  while (!in.empty()) {
    const std::size_t nl = in.find('\n');
    const std::string_view l = in.substr(0, nl);
    in = nl == std::string_view::npos ? std::string_view() : in.substr(nl + 1);
    const std::size_t colon = l.find(':');
    if (colon == std::string_view::npos) continue;
    headers.insert(std::string(l.substr(0, colon)), std::string(l.substr(colon + 1)));
  }
  kvhttp::detail::BodyWindow w;
  if (kvhttp::detail::ReadBodyWindow(status, headers, w)) {
    if (w.start < 0) std::abort();
    if (w.end != -1 && w.end <= w.start && !(status == 200 && w.end == 0)) std::abort();
    if (w.total != -1 && w.end > w.total) std::abort();
  }
  const std::string validator = kvhttp::detail::ResponseValidator(headers);
  if (kvhttp::detail::CompareValidators(validator, validator) ==
      kvhttp::detail::validator_match::differs)
    std::abort();
  return 0;
}
