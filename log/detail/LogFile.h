// The log file behind the public entries. Private to log/.
#pragma once

#include <string>

#include "log/Log.h"

namespace kvlog_detail {

// LogWrite without its safety net: opens the file with the defaults when needed and appends the
// entry; an exception from the appender reaches the caller, which then writes the fault line.
// Any thread.
void WriteEntry(LogLevel level, const std::string& text);

}  // namespace kvlog_detail
