// Numbers from response headers. Pure functions; any thread.
#pragma once

#include <cstdint>
#include <string_view>

namespace kvhttp::detail {

// A non-negative decimal number filling the whole text (surrounding blanks allowed).
bool ParseDecimal(std::string_view text, std::int64_t& value);

struct ContentRange {
  std::int64_t first = -1;
  std::int64_t last = -1;
  std::int64_t total = -1;  // -1 for "*"
};

// "bytes FIRST-LAST/TOTAL" (TOTAL may be "*"); false for anything else, "bytes */TOTAL"
// included.
bool ParseContentRange(std::string_view text, ContentRange& out);

// The part after the first "/", empty when there is none.
std::string_view ContentRangeTotalText(std::string_view text);

}  // namespace kvhttp::detail
