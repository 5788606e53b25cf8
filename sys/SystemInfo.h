// Questions about the machine and about files, and the text conversions the program relies on.
// No state of their own; any thread. Folders end in "/".
#pragma once

#include <cstdint>
#include <string>

// The Program Files stand-in + "/": /opt/ when the effective uid is 0, else $XDG_DATA_HOME/
// (default ~/.local/share/). The environment variable KV_PROGRAM_FILES overrides both (tests).
std::wstring GetProgramFilesFolder();
// GetProgramFilesFolder() + "korvana_down/" + own executable base name + "/".
std::wstring GetWorkFolder();
std::wstring GetFileNameFromPath(const std::wstring& path);
// The Windows language id of the user's locale, in decimal ("1033" for en_US).
std::wstring GetUiLanguageId();
std::wstring GetOsProductName();
bool Is64BitSystem();
bool GetFreeSpaceMB(const std::wstring& path, std::uint32_t& mb);
std::wstring GetFileVersion(const std::wstring& path);
std::wstring GetFileDescription(const std::wstring& path);
bool FileExists(const std::wstring& path);
// The program's own executable path (/proc/self/exe).
std::wstring GetModulePath();
// Creates the folder and all missing parents (0755); true when it exists afterwards.
bool CreateFolderTree(const std::wstring& path);

std::wstring LocaleToWide(const std::string& text);
std::string WideToLocale(const std::wstring& text);
std::wstring AnsiToWide(const std::string& text);
std::string WideToAnsi(const std::wstring& text);
std::string WideToUtf8(const std::wstring& text);
std::wstring Utf8ToWide(const std::string& text);
