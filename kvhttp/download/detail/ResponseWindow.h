// What a response to a download request says about the file: its validator and which bytes of
// the file its body carries. Pure functions over a response's header table; any thread.
#pragma once

#include <cstdint>
#include <string>

#include "kvhttp/net/RequestOptions.h"

namespace kvhttp::detail {

// The strong ETag (quotes included), else Last-Modified, else empty. Weak ETags are left out:
// they may not be used with If-Range.
std::string ResponseValidator(const RequestOptions& headers);

// Two validators name the same version of the file. Empty means "not said": a response without
// a validator contradicts nothing.
enum class validator_match { same, differs, unknown };
validator_match CompareValidators(const std::string& known, const std::string& answer);

// The file bytes [start, end) that a body carries and the file's total size, as far as known.
struct BodyWindow {
  std::int64_t start = 0;
  std::int64_t end = -1;    // exclusive; -1 when the body runs to the end of the connection
  std::int64_t total = -1;  // the file's size; -1 unknown
};

// For a 206: from Content-Range (false when it is missing or malformed, or its total is "*");
// for a 200: the whole file, its size from Content-Length when given. False for other statuses.
bool ReadBodyWindow(int status, const RequestOptions& headers, BodyWindow& out);

}  // namespace kvhttp::detail
