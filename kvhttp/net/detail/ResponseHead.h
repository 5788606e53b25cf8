// Parsers of the response head, usable without a socket (so they can be fuzzed).
#pragma once

#include <boost/system/error_code.hpp>
#include <cstdint>
#include <string>
#include <string_view>

#include "kvhttp/net/ParsedUrl.h"
#include "kvhttp/net/RequestOptions.h"

namespace kvhttp::detail {

// Heads larger than this are refused, so a hostile server cannot make us buffer without end.
inline constexpr std::size_t kMaxHeadSize = 64 * 1024;

struct StatusLine {
  int major = 0;
  int minor = 0;
  int status = 0;
  std::string reason;
};

// "HTTP/" digits "." digits SP three digits SP reason (no control characters); `line` is
// without its CR LF. False when the line has another shape.
bool ParseStatusLine(std::string_view line, StatusLine& out);

// Header lines (each ending in CR LF, without the final empty line) appended to `out` in order:
// token name, ":", value trimmed of blanks; a line starting with a blank continues the value
// before. False on an invalid character or a line without ":".
bool ParseHeaderLines(std::string_view block, RequestOptions& out);

// What the stream takes from the headers.
struct HeadFacts {
  std::string content_type;
  std::int64_t content_length = -1;  // larger of Content-Length and the Content-Range total
  std::int64_t message_length = -1;  // Content-Length alone
  std::string location;
  bool chunked = false;
  bool connection_close = false;
};
HeadFacts ExtractHeadFacts(const RequestOptions& headers);

// A Location value made absolute against the URL it answered.
std::string AbsoluteLocation(const ParsedUrl& base, std::string_view location);

// A decimal number without sign of at most 18 digits; -1 otherwise.
std::int64_t ParseDecimal(std::string_view text);

std::string Base64(std::string_view bytes);

}  // namespace kvhttp::detail
