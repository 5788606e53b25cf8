// Compile-time checking for LOGW: the wide format's conversions are matched against the
// argument types, so a format that would read a wrong argument does not compile. A "%s" given a
// wide string is accepted and passed on as "%ls", so wide texts may use either spelling.
#pragma once

#include <cstddef>
#include <string>
#include <type_traits>

#include "log/Log.h"

namespace kvlog_detail {

// What an argument is once it has passed through "...".
enum class ArgKind : unsigned char {
  Int32,
  Int64,
  Double,
  LongDouble,
  Narrow,
  Wide,
  Pointer,
  Invalid
};

template <class T>
constexpr ArgKind KindOf() {
  using U = std::remove_cv_t<T>;
  if constexpr (std::is_pointer_v<U>) {
    using P = std::remove_cv_t<std::remove_pointer_t<U>>;
    if constexpr (std::is_same_v<P, char> || std::is_same_v<P, signed char> ||
                  std::is_same_v<P, unsigned char>) {
      return ArgKind::Narrow;
    } else if constexpr (std::is_same_v<P, wchar_t>) {
      return ArgKind::Wide;
    } else {
      return ArgKind::Pointer;
    }
  } else if constexpr (std::is_null_pointer_v<U>) {
    return ArgKind::Pointer;
  } else if constexpr (std::is_integral_v<U> ||
                       (std::is_enum_v<U> && std::is_convertible_v<U, long long>)) {
    return sizeof(U) <= 4 ? ArgKind::Int32 : ArgKind::Int64;
  } else if constexpr (std::is_same_v<U, float> || std::is_same_v<U, double>) {
    return ArgKind::Double;
  } else if constexpr (std::is_same_v<U, long double>) {
    return ArgKind::LongDouble;
  } else {
    return ArgKind::Invalid;  // class types, scoped enums: never through "..."
  }
}

// What a conversion reads.
enum class Need : unsigned char {
  None,
  Int32,
  Int64,
  Double,
  LongDouble,
  NarrowOrWide,
  Wide,
  Pointer,
  Unsupported
};

struct Conversion {
  int stars = 0;           // "*" width and precision arguments (int each) before the value
  Need need = Need::None;  // None for "%%"
  std::size_t at = 0;      // index of the conversion character
};

constexpr bool IsDigit(wchar_t c) {
  return c >= L'0' && c <= L'9';
}

// Reads the next conversion at or after pos; false at the end of the text.
constexpr bool NextConversion(const wchar_t* f, std::size_t& pos, Conversion& c) {
  while (f[pos] != 0 && f[pos] != L'%') ++pos;
  if (f[pos] == 0) return false;
  ++pos;
  c = Conversion{};
  if (f[pos] == L'%') {
    c.at = pos++;
    return true;
  }
  while (f[pos] == L'-' || f[pos] == L'+' || f[pos] == L' ' || f[pos] == L'#' || f[pos] == L'0' ||
         f[pos] == L'\'') {
    ++pos;
  }
  if (f[pos] == L'*') {
    ++c.stars;
    ++pos;
  } else {
    while (IsDigit(f[pos])) ++pos;
  }
  if (f[pos] == L'$') {  // positional arguments are not checked, so not allowed
    c.need = Need::Unsupported;
    c.at = pos;
    return true;
  }
  if (f[pos] == L'.') {
    ++pos;
    if (f[pos] == L'*') {
      ++c.stars;
      ++pos;
    } else {
      while (IsDigit(f[pos])) ++pos;
    }
  }
  enum { kNone, kChar, kShort, kLong, kLongLong, kLongDouble, kWord64 } len = kNone;
  if (f[pos] == L'h') {
    len = f[pos + 1] == L'h' ? kChar : kShort;
    pos += len == kChar ? 2 : 1;
  } else if (f[pos] == L'l') {
    len = f[pos + 1] == L'l' ? kLongLong : kLong;
    pos += len == kLongLong ? 2 : 1;
  } else if (f[pos] == L'L' || f[pos] == L'q') {
    len = f[pos] == L'L' ? kLongDouble : kLongLong;
    ++pos;
  } else if (f[pos] == L'j' || f[pos] == L'z' || f[pos] == L't') {
    len = kWord64;
    ++pos;
  }
  c.at = pos;
  const wchar_t conv = f[pos];
  if (conv != 0) ++pos;
  switch (conv) {
    case L'd':
    case L'i':
    case L'o':
    case L'u':
    case L'x':
    case L'X':
      c.need = len == kLong || len == kLongLong || len == kWord64 ? Need::Int64
               : len == kLongDouble                               ? Need::Unsupported
                                                                  : Need::Int32;
      break;
    case L'c':
      c.need = len == kNone || len == kLong ? Need::Int32 : Need::Unsupported;
      break;
    case L'C':
      c.need = len == kNone ? Need::Int32 : Need::Unsupported;
      break;
    case L'e':
    case L'E':
    case L'f':
    case L'F':
    case L'g':
    case L'G':
    case L'a':
    case L'A':
      c.need = len == kLongDouble             ? Need::LongDouble
               : len == kNone || len == kLong ? Need::Double
                                              : Need::Unsupported;
      break;
    case L's':
      c.need = len == kNone ? Need::NarrowOrWide : len == kLong ? Need::Wide : Need::Unsupported;
      break;
    case L'S':
      c.need = len == kNone ? Need::Wide : Need::Unsupported;
      break;
    case L'p':
      c.need = len == kNone ? Need::Pointer : Need::Unsupported;
      break;
    default:  // "%n" writes through its argument, others are unknown: refuse both
      c.need = Need::Unsupported;
      break;
  }
  return true;
}

constexpr bool Fits(Need need, ArgKind kind) {
  switch (need) {
    case Need::Int32:
      return kind == ArgKind::Int32;
    case Need::Int64:
      return kind == ArgKind::Int64;
    case Need::Double:
      return kind == ArgKind::Double;
    case Need::LongDouble:
      return kind == ArgKind::LongDouble;
    case Need::NarrowOrWide:
      return kind == ArgKind::Narrow || kind == ArgKind::Wide;
    case Need::Wide:
      return kind == ArgKind::Wide;
    case Need::Pointer:
      return kind == ArgKind::Pointer || kind == ArgKind::Narrow || kind == ArgKind::Wide;
    default:
      return false;
  }
}

// True when the format reads exactly the n arguments of the given kinds.
constexpr bool FormatMatches(const wchar_t* f, const ArgKind* kinds, std::size_t n) {
  if (f == nullptr) return n == 0;
  std::size_t pos = 0;
  std::size_t arg = 0;
  Conversion c;
  while (NextConversion(f, pos, c)) {
    if (c.need == Need::Unsupported) return false;
    for (int s = 0; s < c.stars; ++s, ++arg) {
      if (arg >= n || kinds[arg] != ArgKind::Int32) return false;
    }
    if (c.need == Need::None) continue;
    if (arg >= n || !Fits(c.need, kinds[arg])) return false;
    ++arg;
  }
  return arg == n;
}

// Calls visit(conversion) for every "%s" whose argument is a wide string: those must be passed
// on as "%ls".
template <class Visit>
constexpr void ForEachWideS(const wchar_t* f, const ArgKind* kinds, std::size_t n, Visit visit) {
  if (f == nullptr) return;
  std::size_t pos = 0;
  std::size_t arg = 0;
  Conversion c;
  while (NextConversion(f, pos, c)) {
    arg += c.stars;
    if (c.need == Need::None) continue;
    if (c.need == Need::NarrowOrWide && arg < n && kinds[arg] == ArgKind::Wide) visit(c);
    ++arg;
  }
}

// True when some "%s" receives a wide string.
constexpr bool NeedsWideS(const wchar_t* f, const ArgKind* kinds, std::size_t n) {
  bool needs = false;
  ForEachWideS(f, kinds, n, [&needs](const Conversion&) { needs = true; });
  return needs;
}

// The format with "%s" turned into "%ls" where its argument is wide. Defined in LogPrint.cpp.
std::wstring WidenStringConversions(const wchar_t* f, const ArgKind* kinds, std::size_t n);

// Not constexpr on purpose: reaching it during constant evaluation is the compile error that
// reports a format that does not match its arguments.
void WideFormatDoesNotMatchArguments();

template <class... Args>
class CheckedWideFormat {
 public:
  static constexpr ArgKind kKinds[sizeof...(Args) + 1] = {KindOf<Args>()..., ArgKind::Invalid};

  consteval CheckedWideFormat(const wchar_t* format)  // NOLINT: implicit from the literal
      : format_(format), widen_(NeedsWideS(format, kKinds, sizeof...(Args))) {
    if (!FormatMatches(format, kKinds, sizeof...(Args))) WideFormatDoesNotMatchArguments();
  }
  const wchar_t* format() const { return format_; }
  bool widen() const { return widen_; }

 private:
  const wchar_t* format_;
  bool widen_;
};

// LogPrintW with the function name as the compiler gives it. Defined in LogPrint.cpp.
void LogPrintWNarrowName(const char* function, const wchar_t* sourcePath, int line, LogLevel level,
                         const wchar_t* format, ...);

// Writes the fixed fault line for a LOGW entry. Never throws.
void LogFaultLine(const char* function, const wchar_t* sourcePath, int line,
                  LogLevel level) noexcept;

template <class... Args>
inline void CheckedLogPrintW(const char* function, const wchar_t* sourcePath, int line,
                             LogLevel level,
                             CheckedWideFormat<std::type_identity_t<Args>...> format,
                             Args... args) {
  if (!format.widen()) {
    LogPrintWNarrowName(function, sourcePath, line, level, format.format(), args...);
    return;
  }
  try {
    std::wstring widened = WidenStringConversions(
        format.format(), CheckedWideFormat<Args...>::kKinds, sizeof...(Args));
    LogPrintWNarrowName(function, sourcePath, line, level, widened.c_str(), args...);
  } catch (...) {
    LogFaultLine(function, sourcePath, line, level);
  }
}

}  // namespace kvlog_detail
