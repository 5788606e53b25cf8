// Questions about the machine and about files, and the text conversions the program relies on.
// No state of their own; any thread. Folders end in "/".
#pragma once

#include <cstdint>
#include <string>

#include "platform/Folders.h"

// The Program Files stand-in + "/": /opt/ when the effective uid is 0, else $XDG_DATA_HOME/
// (default ~/.local/share/). The environment variable KV_PROGRAM_FILES overrides both (tests;
// ignored when elevated through sudo or pkexec).
std::wstring GetProgramFilesFolder();
// GetProgramFilesFolder() + "korvana_down/" + own executable base name + "/". Only a name: the
// process entry makes it trustworthy with PrepareWorkFolder before anything uses it.
std::wstring GetWorkFolder();
// Makes GetWorkFolder() a private folder tree below GetProgramFilesFolder() (platform/Folders.h,
// PreparePrivateFolderTree): as root, a component that is a symbolic link, not ours, or
// writable by group or others is refused and made anew. Afterwards only we (and root) can change
// the work folder or its parents, so its users may open paths below it by name. Call once,
// first thing at start-up, before LogInit.
platform::PrepareResult PrepareWorkFolder();
std::wstring GetFileNameFromPath(const std::wstring& path);
// The Windows language id of the user's locale (LC_ALL, else LC_MESSAGES, else LANG), in decimal
// ("1033" for en_US, "1025" for ar_SA); an unknown language or the C locale gives "1033".
std::wstring GetUiLanguageId();
// PRETTY_NAME of /etc/os-release ("" without one).
std::wstring GetOsProductName();
// True on an x86_64 machine.
bool Is64BitSystem();
// Free space of the file system holding path (statvfs), in MiB: all free blocks for root, the
// blocks an unprivileged user may take (not those reserved for root) otherwise; mb untouched on
// failure. A folder not made yet is answered for by its nearest existing parent.
bool GetFreeSpaceMB(const std::wstring& path, std::uint32_t& mb);
// "a.b.c.d" and the description from the file's ".kv_version" record; "" without one.
std::wstring GetFileVersion(const std::wstring& path);
std::wstring GetFileDescription(const std::wstring& path);
// True for a regular file that can be opened for reading; false for folders, pipes and devices.
bool FileExists(const std::wstring& path);
// The program's own executable path (/proc/self/exe).
std::wstring GetModulePath();
// Creates the folder and all missing parents (0755); true when it exists afterwards.
bool CreateFolderTree(const std::wstring& path);

// The locale's character set is UTF-8 in practice (a plain C locale counts as UTF-8), so the
// "ANSI" and locale conversions agree. Unconvertible characters become '?'. The UTF-8 pair
// converts directly: nothing is lost, invalid input becomes U+FFFD.
std::wstring LocaleToWide(const std::string& text);
std::string WideToLocale(const std::wstring& text);
std::wstring AnsiToWide(const std::string& text);
std::string WideToAnsi(const std::wstring& text);
std::string WideToUtf8(const std::wstring& text);
std::wstring Utf8ToWide(const std::string& text);
