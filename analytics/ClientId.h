// The per-machine analytics client identifier, kept as value "GUID" under HKEY_LOCAL_MACHINE
// "SOFTWARE\WOW6432Node\Korvana\KorvanaDown". Any thread, though it is read once at start-up.
#pragma once

#include <string>

#include "platform/Guid.h"

// "%08X-%04X-%04x-%02X%02X-%02X%02X%02X%02X%02X%02X": 36 characters, the third group in lower
// case.
std::wstring FormatClientGuid(const platform::Guid& guid);

// The stored identifier when it is one or more ASCII letters, digits or hyphens; otherwise a
// new one, stored (72 bytes, no terminator) and returned. "" when the key cannot be had.
std::wstring GetClientId();
