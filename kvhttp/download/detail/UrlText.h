// Text conversions around URLs: the locale's multibyte text, UTF-8 with percent-escapes, and the
// parse-and-rejoin round trip. Thread-safe once the process locale is set.
#pragma once

#include <string>

namespace kvhttp::detail {

// Sets the C library's character-type category to the user's locale, once per process.
void UseUserLocale();

// Multibyte text of the current locale to wide text and back; false when the text does not
// convert.
bool LocaleToWideText(const std::string& text, std::wstring& out);
bool WideToLocaleText(const std::wstring& text, std::string& out);

// A URL as the user typed it (locale text) made fit for a request line: converted to UTF-8,
// then every byte >= 0x80 and each of ' ', '^', '`', '{', '|', '}' written as "%xx". Text that
// is not valid in the locale is escaped byte by byte.
std::string EscapeUrlText(const std::string& text);

// Parses `text` as a URL and writes its full text form; false when it does not parse.
bool NormaliseUrlText(const std::string& text, std::string& out);

}  // namespace kvhttp::detail
