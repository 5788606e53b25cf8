// Profile (ini) files as the language package and the product configuration carry them: any
// bytes, never a crash, and results that fit the buffer sizes asked for.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/profile/Profile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  platform::DecodeProfileText(bytes);
  // The reader takes a path: the bytes go into a file that lives in memory only.
  const int fd = memfd_create("profile", MFD_CLOEXEC);
  if (fd < 0) return 0;
  if (size > 0 && write(fd, data, size) != static_cast<ssize_t>(size)) {
    close(fd);
    return 0;
  }
  const std::wstring path = L"/proc/self/fd/" + std::to_wstring(fd);
  for (const wchar_t* section : {L"language", L"productInfo", L"English", L""}) {
    const std::wstring value = platform::ReadProfileString(path, section, L"name", L"fallback", 64);
    if (value.size() > 63) std::abort();
    std::size_t used = 1;
    for (const std::wstring& line : platform::ReadProfileSection(path, section, 300))
      used += line.size() + 1;
    if (used > 300) std::abort();
  }
  close(fd);
  return 0;
}
