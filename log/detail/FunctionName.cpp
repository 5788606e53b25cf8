#include "log/detail/FunctionName.h"

#include <cstring>

namespace kvlog_detail {

std::string QualifiedFunctionName(const char* pretty) {
  if (pretty == nullptr) return {};
  std::string s(pretty);
  // Template arguments are described after the signature: "... [with T = int]".
  if (std::size_t with = s.find(" [with "); with != std::string::npos) s.erase(with);
  // The parameter list is the last parenthesised group ending the text (trailing qualifiers
  // such as " const" may follow it).
  std::size_t close = s.rfind(')');
  // A ")" followed by more than qualifiers belongs to a name such as "<lambda()>".
  if (close != std::string::npos && close + 1 < s.size() && s[close + 1] != ' ') {
    close = std::string::npos;
  }
  if (close != std::string::npos) {
    int depth = 0;
    for (std::size_t i = close + 1; i-- > 0;) {
      if (s[i] == ')') ++depth;
      if (s[i] == '(' && --depth == 0) {
        s.erase(i);
        break;
      }
    }
  }
  // The return type ends at the last blank outside template brackets.
  int depth = 0;
  std::size_t start = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (c == '<' || c == '(') ++depth;
    if ((c == '>' || c == ')') && depth > 0) --depth;
    if (c == ' ' && depth == 0 && s.compare(i + 1, 8, "operator") != 0 &&
        (i < 8 || s.compare(i - 8, 8, "operator") != 0)) {
      start = i + 1;
    }
  }
  std::string name = s.substr(start);
  while (!name.empty() && (name.front() == '*' || name.front() == '&')) name.erase(0, 1);
  return name.empty() ? std::string(pretty) : name;
}

std::string SourceFileName(const std::string& path) {
  std::size_t pos = path.find_last_of("/\\");
  return pos == std::string::npos ? path : path.substr(pos + 1);
}

}  // namespace kvlog_detail
