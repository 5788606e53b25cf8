// Ini helpers of the language manager: profile reads with the program's buffer sizes, the
// in-memory ini parser for the URL configuration, and placeholder replacement. Any thread.
#pragma once

#include <map>
#include <string>
#include <string_view>

using IniSection = std::map<std::wstring, std::wstring>;
using IniSections = std::map<std::wstring, IniSection>;

// The value of `key` in `section` of `file` (at most 255 characters), or "" when absent.
std::wstring ReadIniValue(const std::wstring& file, const std::wstring& section,
                          const std::wstring& key);

// Adds every key=value line of `section` of `file` to `table`, replacing values of the same key
// (a line without "=" becomes a key with an empty value). The section is read through a buffer
// of 4096 characters, so a longer section is cut. A missing file or section adds nothing.
// Returns true.
bool ReadIniSection(const std::wstring& file, const std::wstring& section, IniSection& table);

// Replaces every occurrence of `what`, scanning left to right and never rescanning inserted
// text. An empty `what` changes nothing.
std::wstring ReplaceAll(std::wstring text, std::wstring_view what, std::wstring_view with);

// Parses ini text held in memory: lines end at LF, blanks around lines, keys and values are
// trimmed, ";" starts a comment line, "[name" (up to the first "]" or the end of the line) opens
// a section, lines without "=" are skipped, a later duplicate key wins. Keys before the first
// section belong to the section named "".
IniSections ParseIniText(std::wstring_view text);
