// Reading ini ("profile") files by the rules programs expect of the system's profile reader:
// UTF-16 files with a byte-order mark, else 8-bit text (UTF-8 when it decodes as such, else
// Latin-1); section and key names compared without regard to case; values trimmed; results cut
// to the caller's buffer size. Files are read afresh on every call. Any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The value of `key` in `section` of `file`, or `fallback` when the file, the section or the key
// is missing. Blanks around the value and one pair of matching quotes around it are removed.
// The result holds at most bufferChars - 1 characters (the room left beside the terminating
// zero of a buffer of that size); bufferChars 0 gives an empty result.
std::wstring ReadProfileString(const std::wstring& file, const std::wstring& section,
                               const std::wstring& key, const std::wstring& fallback,
                               std::size_t bufferChars);

// The lines of `section` of `file` in file order, each "key=value" (or the bare text of a line
// without "="), comment lines (";") and blank lines left out. The first section of that name
// is read. The lines, each with its terminating zero, fit a buffer of bufferChars characters
// that ends with one more zero; when they do not, the line that overflows is cut so that the
// buffer is full and the rest is dropped. Empty when the file or the section is missing.
std::vector<std::wstring> ReadProfileSection(const std::wstring& file, const std::wstring& section,
                                             std::size_t bufferChars);

// `text` without the blanks the reader trims around lines, names and values (space, tab, CR,
// LF, vertical tab, form feed).
std::wstring_view TrimProfileBlanks(std::wstring_view text);

// The text of a profile file's bytes as the reader sees it (byte-order mark removed).
std::wstring DecodeProfileText(const std::string& bytes);

enum class ByteOrder { kLittleEndian, kBigEndian };
// UTF-16 code units to wide characters (pairs joined, lone surrogates as U+FFFD, an odd last
// byte dropped). A byte-order mark is kept as the character U+FEFF.
std::wstring DecodeUtf16(std::string_view bytes, ByteOrder order);

}  // namespace platform
