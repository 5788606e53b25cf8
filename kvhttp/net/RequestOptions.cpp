#include "kvhttp/net/RequestOptions.h"

#include <algorithm>

namespace kvhttp {
namespace {

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
           return lower(x) == lower(y);
         });
}

}  // namespace

void RequestOptions::insert(std::string name, std::string value) {
  table_.emplace_back(std::move(name), std::move(value));
}

bool RequestOptions::find(std::string_view key, std::string& value) const {
  for (const auto& [name, v] : table_) {
    if (EqualsIgnoreCase(name, key)) {
      value = v;
      return true;
    }
  }
  return false;
}

std::string RequestOptions::find(std::string_view key) const {
  std::string value;
  find(key, value);
  return value;
}

bool RequestOptions::remove(std::string_view key) {
  auto it = std::find_if(table_.begin(), table_.end(),
                         [&](const value_type& p) { return p.first == key; });
  if (it == table_.end()) return false;
  table_.erase(it);
  return true;
}

bool RequestOptions::take(std::string_view key, std::string& value) {
  for (auto it = table_.begin(); it != table_.end(); ++it) {
    if (EqualsIgnoreCase(it->first, key)) {
      value = std::move(it->second);
      table_.erase(it);
      return true;
    }
  }
  return false;
}

void RequestOptions::replace(std::string name, std::string value) {
  while (remove(name)) {
  }
  insert(std::move(name), std::move(value));
}

}  // namespace kvhttp
