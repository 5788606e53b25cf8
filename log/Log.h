// The process-wide log file. Any thread may log; the first initialisation wins.
#pragma once

#include <cstdint>
#include <string>

enum LogLevel : std::int32_t {
  LogLevelDebug = 0,
  LogLevelInfo = 1,
  LogLevelWarn = 2,
  LogLevelError = 3,
};

// Opens folder/fileName; null or empty arguments pick the defaults (the executable's folder +
// "/Log", the log name + ".log"). Later calls change nothing. The folder is made when missing;
// the file is opened without following a symbolic link at its name (entries are dropped then)
// and is never inherited by the programs we start.
void LogInit(const wchar_t* fileName, const wchar_t* folder);

// Formats and writes one entry. Never fails and never throws: a fault while formatting or
// writing is replaced by the fixed fault line.
void LogPrintA(const char* function, const char* sourcePath, int line, LogLevel level,
               const char* format, ...) __attribute__((format(printf, 5, 6)));
void LogPrintW(const wchar_t* function, const wchar_t* sourcePath, int line, LogLevel level,
               const wchar_t* format, ...);

// Writes one finished 8-bit text (initialising with the defaults when needed). As root nothing
// is written before LogInit: the entries wait (a few hundred at most) and go first into the file
// LogInit opens, so that no file of root's appears beside the executable.
void LogWrite(LogLevel level, const std::string& text);

// The path of the log file in use, empty before initialisation (for tests and diagnostics).
std::string LogFilePath();

#define KV_LOG_WIDEN2(x) L##x
#define KV_LOG_WIDEN(x) KV_LOG_WIDEN2(x)

// The two call-site macros: LOGA(LogLevelInfo, "x=%d", x); LOGW(LogLevelInfo, L"%ls", s);
// Both check the format against the arguments at compile time (LOGW: log/detail/CheckedWide.h),
// so the format must be a literal. In LOGW "%s" takes a narrow or a wide string, "%ls" a wide.
#define LOGA(level, ...) LogPrintA(__PRETTY_FUNCTION__, __FILE__, __LINE__, level, __VA_ARGS__)
#define LOGW(level, ...)                                                                         \
  ::kvlog_detail::CheckedLogPrintW(__PRETTY_FUNCTION__, KV_LOG_WIDEN(__FILE__), __LINE__, level, \
                                   __VA_ARGS__)

#include "log/detail/CheckedWide.h"
