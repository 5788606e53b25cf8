#include "platform/Resources.h"

#include <mutex>
#include <string>
#include <vector>

namespace platform {
namespace {

struct Entry {
  std::string type;
  int id;
  const unsigned char* begin;
  const unsigned char* end;
};

// Function-local so that registration from other translation units' static initialisers
// never sees an unconstructed table.
std::vector<Entry>& Table() {
  static std::vector<Entry> table;
  return table;
}

std::mutex& TableMutex() {
  static std::mutex m;
  return m;
}

}  // namespace

bool RegisterResource(const char* type, int id, const unsigned char* begin,
                      const unsigned char* end) {
  std::lock_guard<std::mutex> lock(TableMutex());
  Table().push_back(Entry{type, id, begin, end});
  return true;
}

ResourceBytes FindResource(std::string_view type, int id) {
  std::lock_guard<std::mutex> lock(TableMutex());
  for (const Entry& e : Table()) {
    if (e.id == id && e.type == type) {
      return ResourceBytes{e.begin, static_cast<std::size_t>(e.end - e.begin), true};
    }
  }
  return {};
}

}  // namespace platform
