// Finding and ending processes, opening documents, starting programs. Any thread; no state.
#pragma once

#include <cstdint>
#include <string>

// ShellOpen's results, in the shell's manner: above 32 means started.
inline constexpr int kShellOpenStarted = 42;
inline constexpr int kShellOpenNoHandler = 31;

// First process (in /proc order) whose executable file name equals exeName exactly (with case;
// the folder is never compared). pid is left alone when none matches.
bool FindProcess(const std::wstring& exeName, std::uint32_t& pid);
// Ends the process at once; false when it cannot be signalled (gone, not ours, pid 0).
bool KillProcess(std::uint32_t pid);
// Opens a path or URL with the desktop's default handler; as the invoking user when elevated.
// Does not wait for the handler. hwnd is unused here.
int ShellOpen(void* hwnd, const std::wstring& target);
// Starts the program (no arguments) and does not wait; runAsAdmin false drops elevation to the
// interactive user (SUDO_UID/PKEXEC_UID) in the child, the same user when not elevated.
void RunProgram(const std::wstring& path, bool runAsAdmin);
