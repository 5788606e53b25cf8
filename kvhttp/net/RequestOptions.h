// An ordered table of header names and values, used for the request to send, the request
// actually sent and the response received. Plain value: one thread at a time.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kvhttp {

// Names that carry request parts or results and are never sent as header lines.
inline constexpr const char* kRequestMethod = "_request_method";
inline constexpr const char* kHttpVersion = "_http_version";
inline constexpr const char* kUrl = "_url";
inline constexpr const char* kPath = "_path";
inline constexpr const char* kRequestBody = "_request_body";
inline constexpr const char* kStatusCode = "_status_code";

class RequestOptions {
 public:
  using value_type = std::pair<std::string, std::string>;
  using table_type = std::vector<value_type>;

  // Appends a pair; a name may occur more than once.
  void insert(std::string name, std::string value);
  // The value of the first pair whose name matches `key` without regard to ASCII case.
  bool find(std::string_view key, std::string& value) const;
  std::string find(std::string_view key) const;  // empty when missing
  // Removes the first pair whose name equals `key` exactly; false when there was none.
  bool remove(std::string_view key);
  // Removes the first pair that find(key) would give, handing out its value.
  bool take(std::string_view key, std::string& value);
  // Removes and then inserts: the one pair named `name` afterwards (exact name).
  void replace(std::string name, std::string value);
  void clear() { table_.clear(); }

  const table_type& table() const { return table_; }
  std::size_t size() const { return table_.size(); }
  bool empty() const { return table_.empty(); }

  // When set, SendRequest writes the request and stops with "Fake continue" without reading.
  bool fake_continue = false;

 private:
  table_type table_;
};

}  // namespace kvhttp
