// Prints what the system utilities say about the running program, one fact per line, so that
// tests can run it under chosen file names.
#include <cstdio>

#include "sys/SystemInfo.h"

int main() {
  std::printf("%s\n%s\n%s\n", WideToUtf8(GetModulePath()).c_str(),
              WideToUtf8(GetWorkFolder()).c_str(), WideToUtf8(GetProgramFilesFolder()).c_str());
  return 0;
}
