// Finding and ending processes, opening documents, starting programs. Any thread; no state.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Process.h"

// How a start went: platform::StartResult::Started, ::Failed, or ::NoInteractiveUser when we
// are elevated and no user other than root could be found to start it as (nothing was started;
// the caller tells the user to start it themselves).
using RunResult = platform::StartResult;

// First process (in /proc order) whose executable file name equals exeName exactly (with case;
// the folder is never compared). pid is left alone when none matches.
bool FindProcess(const std::wstring& exeName, std::uint32_t& pid);
// Ends the process at once; false when it cannot be signalled (gone, not ours, pid 0).
bool KillProcess(std::uint32_t pid);
// Opens a path or URL with the desktop's default handler, as the interactive user (never as
// root in that user's place). Does not wait for the handler. hwnd is unused here.
RunResult ShellOpen(void* hwnd, const std::wstring& target);
// Starts the program (no arguments) and does not wait. runAsAdmin true: as ourselves.
// runAsAdmin false: as the interactive user (platform::InteractiveUser), privileges dropped in
// the child; the same user when not elevated.
RunResult RunProgram(const std::wstring& path, bool runAsAdmin);
