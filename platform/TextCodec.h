// Conversions between wide text, the user's locale character set and UTF-8. Any thread: the
// locale is applied per thread, never through the process-wide setlocale.
#pragma once

#include <string>

namespace platform {

// The user's locale character set (LC_ALL, LC_CTYPE, LANG). The plain C/POSIX locale, or one
// that is not installed, counts as UTF-8: that is what every text we handle is in practice.
std::wstring LocaleToWide(const std::string& text);
// Characters the locale cannot express become '?'.
std::string WideToLocale(const std::wstring& text);

// Invalid UTF-8 bytes and lone surrogates become U+FFFD; text is never dropped.
std::wstring Utf8ToWide(const std::string& text);
std::string WideToUtf8(const std::wstring& text);

// Makes the user's locale (as above) the calling thread's locale while it lives, so that the C
// library's wide formatting and conversions use it.
class ScopedUserLocale {
 public:
  ScopedUserLocale();
  ~ScopedUserLocale();
  ScopedUserLocale(const ScopedUserLocale&) = delete;
  ScopedUserLocale& operator=(const ScopedUserLocale&) = delete;

 private:
  void* previous_;
};

}  // namespace platform
