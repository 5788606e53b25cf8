#include "kvhttp/download/detail/ResponseWindow.h"

#include "kvhttp/download/detail/ContentRange.h"

namespace kvhttp::detail {

namespace {

std::string Trim(std::string s) {
  const auto a = s.find_first_not_of(" \t");
  if (a == std::string::npos) return {};
  const auto b = s.find_last_not_of(" \t");
  return s.substr(a, b - a + 1);
}

}  // namespace

std::string ResponseValidator(const RequestOptions& headers) {
  std::string etag;
  if (headers.find("ETag", etag)) {
    etag = Trim(etag);
    if (etag.size() >= 2 && etag.front() == '"' && etag.back() == '"') return etag;
  }
  std::string modified;
  if (headers.find("Last-Modified", modified)) return Trim(modified);
  return {};
}

validator_match CompareValidators(const std::string& known, const std::string& answer) {
  if (known.empty() || answer.empty()) return validator_match::unknown;
  return known == answer ? validator_match::same : validator_match::differs;
}

bool ReadBodyWindow(int status, const RequestOptions& headers, BodyWindow& out) {
  BodyWindow w;
  if (status == 206) {
    ContentRange range;
    if (!ParseContentRange(headers.find("Content-Range"), range) || range.total < 0) return false;
    w.start = range.first;
    w.end = range.last + 1;
    w.total = range.total;
    std::int64_t length = -1;
    // A length that disagrees with the range would make the body end elsewhere.
    if (ParseDecimal(headers.find("Content-Length"), length) && length != w.end - w.start)
      return false;
  } else if (status == 200) {
    std::int64_t length = -1;
    if (ParseDecimal(headers.find("Content-Length"), length)) {
      w.end = length;
      w.total = length;
    }
  } else {
    return false;
  }
  out = w;
  return true;
}

}  // namespace kvhttp::detail
