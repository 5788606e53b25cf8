// Prints what the system utilities say about the running program, one fact per line, so that
// tests can run it under chosen file names. "free PATH" prints GetFreeSpaceMB of PATH instead.
#include <cstdio>
#include <string>

#include "sys/SystemInfo.h"

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "free") {
    std::uint32_t mb = 0;
    if (!GetFreeSpaceMB(Utf8ToWide(argv[2]), mb)) return 1;
    std::printf("%u\n", mb);
    return 0;
  }
  std::printf("%s\n%s\n%s\n", WideToUtf8(GetModulePath()).c_str(),
              WideToUtf8(GetWorkFolder()).c_str(), WideToUtf8(GetProgramFilesFolder()).c_str());
  return 0;
}
