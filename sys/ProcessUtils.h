// Finding and ending processes, opening documents, starting programs. Any thread; no state.
#pragma once

#include <cstdint>
#include <string>

// First process (in /proc order) whose executable file name equals exeName exactly.
bool FindProcess(const std::wstring& exeName, std::uint32_t& pid);
bool KillProcess(std::uint32_t pid);
// Opens a path or URL with the desktop's default handler; as the invoking user when elevated.
int ShellOpen(void* hwnd, const std::wstring& target);
// Starts the program; runAsAdmin false drops elevation to the interactive user in the child.
void RunProgram(const std::wstring& path, bool runAsAdmin);
