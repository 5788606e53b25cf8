// The two formatting entries and the fault line that replaces an entry that cannot be made.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

#include "log/Log.h"
#include "log/detail/CheckedWide.h"
#include "log/detail/FunctionName.h"
#include "log/detail/LogFile.h"
#include "platform/TextCodec.h"

namespace {

constexpr char kFaultText[] = "***Fatal Error Check,Please Fix it!***";

std::string FaultLine(const std::string& sourceFile, int line, const std::string& function) {
  std::string out = "[" + sourceFile + ":" + std::to_string(line) + "][" + function + "] ";
  return out + kFaultText;
}

void WriteFault(const char* function, const std::string& sourcePath, int line,
                LogLevel level) noexcept {
  try {
    LogWrite(level, FaultLine(kvlog_detail::SourceFileName(sourcePath), line,
                              kvlog_detail::QualifiedFunctionName(function)));
  } catch (...) {
  }
}

// Formats into a stream that grows as needed: exact size, no length limit.
bool FormatWide(const wchar_t* format, va_list ap, std::wstring& out) {
  wchar_t* buf = nullptr;
  std::size_t size = 0;
  FILE* stream = ::open_wmemstream(&buf, &size);
  if (stream == nullptr) return false;
  int n = std::vfwprintf(stream, format, ap);
  std::fclose(stream);
  if (n >= 0 && buf != nullptr) out.assign(buf, size);
  std::free(buf);
  return n >= 0;
}

void PrintWide(const char* function, const wchar_t* sourcePath, int line, LogLevel level,
               const wchar_t* format, va_list ap) noexcept {
  if (format == nullptr || *format == 0) return;
  try {
    std::wstring message;
    bool ok;
    {
      platform::ScopedUserLocale locale;
      ok = FormatWide(format, ap, message);
    }
    if (ok) {
      kvlog_detail::WriteEntry(level, platform::WideToLocale(message));
      return;
    }
  } catch (...) {
  }
  kvlog_detail::LogFaultLine(function, sourcePath, line, level);
}

}  // namespace

void LogPrintA(const char* function, const char* sourcePath, int line, LogLevel level,
               const char* format, ...) {
  if (format == nullptr || *format == 0) return;
  va_list ap;
  va_start(ap, format);
  bool ok = false;
  try {
    std::string message;
    {
      platform::ScopedUserLocale locale;  // "%ls" arguments convert in the user's locale
      va_list measure;
      va_copy(measure, ap);
      int n = std::vsnprintf(nullptr, 0, format, measure);
      va_end(measure);
      if (n >= 0) {
        message.resize(static_cast<std::size_t>(n));
        ok = std::vsnprintf(message.data(), message.size() + 1, format, ap) == n;
      }
    }
    if (ok) kvlog_detail::WriteEntry(level, message);
  } catch (...) {
    ok = false;
  }
  va_end(ap);
  if (!ok) WriteFault(function, sourcePath != nullptr ? sourcePath : "", line, level);
}

void LogPrintW(const wchar_t* function, const wchar_t* sourcePath, int line, LogLevel level,
               const wchar_t* format, ...) {
  va_list ap;
  va_start(ap, format);
  std::string narrowName;
  try {
    narrowName = platform::WideToLocale(function != nullptr ? function : L"");
  } catch (...) {
  }
  PrintWide(narrowName.c_str(), sourcePath, line, level, format, ap);
  va_end(ap);
}

namespace kvlog_detail {

void LogPrintWNarrowName(const char* function, const wchar_t* sourcePath, int line, LogLevel level,
                         const wchar_t* format, ...) {
  va_list ap;
  va_start(ap, format);
  PrintWide(function, sourcePath, line, level, format, ap);
  va_end(ap);
}

void LogFaultLine(const char* function, const wchar_t* sourcePath, int line,
                  LogLevel level) noexcept {
  try {
    WriteFault(function, platform::WideToLocale(sourcePath != nullptr ? sourcePath : L""), line,
               level);
  } catch (...) {
  }
}

std::wstring WidenStringConversions(const wchar_t* f, const ArgKind* kinds, std::size_t n) {
  std::wstring out;
  std::size_t copied = 0;
  ForEachWideS(f, kinds, n, [&](const Conversion& c) {
    out.append(f + copied, c.at - copied);
    out += L'l';
    copied = c.at;
  });
  out.append(f + copied);
  return out;
}

}  // namespace kvlog_detail

namespace kvlog_detail {
void WideFormatDoesNotMatchArguments() {}
}  // namespace kvlog_detail
