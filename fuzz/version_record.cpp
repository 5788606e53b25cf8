// The version record reader walks the ELF headers of any file it is given: any bytes, never a
// crash or a read outside the file.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/VersionRecord.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const int fd = memfd_create("elf", MFD_CLOEXEC);
  if (fd < 0) return 0;
  if (size > 0 && write(fd, data, size) != static_cast<ssize_t>(size)) {
    close(fd);
    return 0;
  }
  const auto record = platform::ReadVersionRecord("/proc/self/fd/" + std::to_string(fd));
  if (record && record->description.size() > size) std::abort();
  close(fd);
  return 0;
}
