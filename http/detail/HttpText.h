// The 8-bit/wide conversions of the client family (the locale's character set stands in for
// the system code page). Private to http/.
#pragma once

#include <string>

#include "platform/TextCodec.h"

namespace http_detail {

inline std::wstring Wide(const std::string& s) {
  return platform::LocaleToWide(s);
}
inline std::string Narrow(const std::wstring& s) {
  return platform::WideToLocale(s);
}
inline std::wstring WideOrEmpty(const wchar_t* s) {
  return s ? std::wstring(s) : std::wstring();
}
inline std::string NarrowOrEmpty(const char* s) {
  return s ? std::string(s) : std::string();
}

}  // namespace http_detail
