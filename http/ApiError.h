// Logs a failed platform call with its message text and the calling thread's id. Any thread.
#pragma once

#include <cstdint>
#include <string>

// Where message texts are looked up: the stand-in for a module's message table.
using MessageTable = std::string (*)(std::uint32_t code);

// Logs "[Thread][tid] [context]call api fail code, text" (without "[context]" when context is
// null). A null table or an unknown code logs an empty text.
void ShowApiError(const char* apiName, std::uint32_t errorCode, MessageTable module,
                  const char* context);
