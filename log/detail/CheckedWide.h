// Forwarding for LOGW: turns the compiler's narrow function name into wide text. The owner of
// log/ adds compile-time checking of the wide format against its arguments here.
#pragma once

#include <cstring>
#include <string>

namespace kvlog_detail {

template <class... Args>
inline void CheckedLogPrintW(const char* function, const wchar_t* sourcePath, int line,
                             LogLevel level, const wchar_t* format, Args... args) {
  std::wstring fn(function, function + std::strlen(function));
  LogPrintW(fn.c_str(), sourcePath, line, level, format, args...);
}

}  // namespace kvlog_detail
