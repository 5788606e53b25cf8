// Turns the compiler's description of a function into the qualified name the fault line shows.
#pragma once

#include <string>

namespace kvlog_detail {

// "void CGA::SendGACommon(const std::string&)" -> "CGA::SendGACommon". A text that is already a
// plain name comes back unchanged. Any thread.
std::string QualifiedFunctionName(const char* pretty);

// The part of a source path after its last "/" or "\".
std::string SourceFileName(const std::string& path);

}  // namespace kvlog_detail
