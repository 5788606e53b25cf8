// ASCII test URLs and paths as the wide text the clients take.
#pragma once

#include <string>

namespace kvtest {

inline std::wstring W(const std::string& s) {
  return std::wstring(s.begin(), s.end());
}

}  // namespace kvtest
