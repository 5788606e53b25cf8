// File-system places the program relies on. Paths are 8-bit in the locale's character set,
// folders end in "/". Any thread.
#pragma once

#include <string>

namespace platform {

// The running executable's full path (/proc/self/exe); empty if it cannot be read.
std::string ExecutablePath();

// The Program Files stand-in + "/": $KV_PROGRAM_FILES when set (tests; ignored when elevated
// through sudo or pkexec), else /opt when the effective uid is 0, else $XDG_DATA_HOME (default
// $HOME/.local/share).
std::string ProgramFilesFolder();

// Creates `path` and every missing parent with mode 0755; true when it is a folder afterwards.
// When elevated no component may be a symbolic link (platform/Folders.h, OpenFolderTree).
bool CreateFolderTree(const std::string& path);

// The last "/"-separated component of `path` ("" for "").
std::string FileNameOf(const std::string& path);

// $name when set and not empty, else "".
std::string EnvOrEmpty(const char* name);

// The user's home folder ($HOME, else the password database); "" if neither knows it.
std::string HomeFolder();

}  // namespace platform
