#include "kvhttp/download/detail/ContentRange.h"

#include <limits>

namespace kvhttp::detail {

namespace {

std::string_view Trim(std::string_view t) {
  while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
  while (!t.empty() && (t.back() == ' ' || t.back() == '\t')) t.remove_suffix(1);
  return t;
}

}  // namespace

bool ParseDecimal(std::string_view text, std::int64_t& value) {
  text = Trim(text);
  if (text.empty()) return false;
  std::int64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    if (v > (std::numeric_limits<std::int64_t>::max() - (c - '0')) / 10) return false;
    v = v * 10 + (c - '0');
  }
  value = v;
  return true;
}

bool ParseContentRange(std::string_view text, ContentRange& out) {
  text = Trim(text);
  constexpr std::string_view kUnit = "bytes ";
  if (text.substr(0, kUnit.size()) != kUnit) return false;
  text.remove_prefix(kUnit.size());
  auto dash = text.find('-');
  auto slash = text.find('/');
  if (dash == std::string_view::npos || slash == std::string_view::npos || dash > slash)
    return false;
  ContentRange r;
  if (!ParseDecimal(text.substr(0, dash), r.first) ||
      !ParseDecimal(text.substr(dash + 1, slash - dash - 1), r.last) || r.last < r.first)
    return false;
  std::string_view total = Trim(text.substr(slash + 1));
  if (total == "*") {
    r.total = -1;
  } else if (!ParseDecimal(total, r.total) || r.total <= r.last) {
    return false;
  }
  out = r;
  return true;
}

std::string_view ContentRangeTotalText(std::string_view text) {
  auto slash = text.find('/');
  return slash == std::string_view::npos ? std::string_view() : Trim(text.substr(slash + 1));
}

}  // namespace kvhttp::detail
