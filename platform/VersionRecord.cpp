#include "platform/VersionRecord.h"

#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <vector>

namespace platform {
namespace {

// The record is a few dozen bytes; a larger section is not ours.
constexpr std::uint64_t kMaxSectionSize = 1 << 20;

class ElfFile {
 public:
  // O_NONBLOCK so that a named pipe given as the path is refused instead of waited on.
  explicit ElfFile(const std::string& path)
      : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)) {
    struct stat st {};
    if (fd_ >= 0 && ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode)) size_ = st.st_size;
  }
  ~ElfFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  ElfFile(const ElfFile&) = delete;
  ElfFile& operator=(const ElfFile&) = delete;

  bool Read(std::uint64_t offset, void* out, std::uint64_t length) const {
    if (fd_ < 0 || offset > size_ || length > size_ - offset) return false;
    auto* p = static_cast<unsigned char*>(out);
    while (length > 0) {
      ssize_t n = ::pread(fd_, p, length, static_cast<off_t>(offset));
      if (n <= 0) return false;
      p += n;
      offset += n;
      length -= n;
    }
    return true;
  }

 private:
  int fd_;
  std::uint64_t size_ = 0;
};

// Fields read in the file's own byte order.
struct Decoder {
  bool bigEndian;
  std::uint64_t Get(const unsigned char* p, int bytes) const {
    std::uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) {
      int shift = bigEndian ? (bytes - 1 - i) * 8 : i * 8;
      v |= static_cast<std::uint64_t>(p[i]) << shift;
    }
    return v;
  }
};

struct Section {
  std::uint32_t name = 0;
  std::uint32_t type = 0;
  std::uint64_t offset = 0;
  std::uint64_t size = 0;
  std::uint32_t link = 0;
};

struct Layout {
  bool is64;
  Decoder d;
  std::uint64_t shoff;
  std::uint64_t shentsize;
  std::uint64_t shnum;
  std::uint64_t shstrndx;
};

bool ReadSection(const ElfFile& f, const Layout& l, std::uint64_t index, Section& s) {
  unsigned char raw[64];
  std::uint64_t need = l.is64 ? 64 : 40;
  if (l.shentsize < need) return false;
  if (!f.Read(l.shoff + index * l.shentsize, raw, need)) return false;
  s.name = static_cast<std::uint32_t>(l.d.Get(raw, 4));
  s.type = static_cast<std::uint32_t>(l.d.Get(raw + 4, 4));
  if (l.is64) {
    s.offset = l.d.Get(raw + 24, 8);
    s.size = l.d.Get(raw + 32, 8);
    s.link = static_cast<std::uint32_t>(l.d.Get(raw + 40, 4));
  } else {
    s.offset = l.d.Get(raw + 16, 4);
    s.size = l.d.Get(raw + 20, 4);
    s.link = static_cast<std::uint32_t>(l.d.Get(raw + 24, 4));
  }
  return true;
}

bool ParseRecord(const std::vector<unsigned char>& bytes, VersionRecord& out) {
  if (bytes.size() < sizeof(VersionRecordHeader)) return false;
  VersionRecordHeader h;
  std::memcpy(&h, bytes.data(), sizeof h);
  if (std::memcmp(h.magic, kVersionMagic, sizeof h.magic) != 0) return false;
  if (h.descriptionLength > bytes.size() - sizeof h) return false;
  for (int i = 0; i < 4; ++i) out.version[i] = h.version[i];
  out.description.assign(reinterpret_cast<const char*>(bytes.data() + sizeof h),
                         h.descriptionLength);
  return true;
}

}  // namespace

std::optional<VersionRecord> ReadVersionRecord(const std::string& path) {
  ElfFile f(path);
  unsigned char ident[EI_NIDENT];
  if (!f.Read(0, ident, sizeof ident) || std::memcmp(ident, ELFMAG, SELFMAG) != 0) {
    return std::nullopt;
  }
  if (ident[EI_CLASS] != ELFCLASS32 && ident[EI_CLASS] != ELFCLASS64) return std::nullopt;
  if (ident[EI_DATA] != ELFDATA2LSB && ident[EI_DATA] != ELFDATA2MSB) return std::nullopt;

  Layout l{ident[EI_CLASS] == ELFCLASS64, Decoder{ident[EI_DATA] == ELFDATA2MSB}, 0, 0, 0, 0};
  unsigned char eh[64];
  if (!f.Read(0, eh, l.is64 ? 64 : 52)) return std::nullopt;
  if (l.is64) {
    l.shoff = l.d.Get(eh + 40, 8);
    l.shentsize = l.d.Get(eh + 58, 2);
    l.shnum = l.d.Get(eh + 60, 2);
    l.shstrndx = l.d.Get(eh + 62, 2);
  } else {
    l.shoff = l.d.Get(eh + 32, 4);
    l.shentsize = l.d.Get(eh + 46, 2);
    l.shnum = l.d.Get(eh + 48, 2);
    l.shstrndx = l.d.Get(eh + 50, 2);
  }
  if (l.shoff == 0) return std::nullopt;
  // Large section counts and string table indexes live in section 0.
  Section first;
  if (!ReadSection(f, l, 0, first)) return std::nullopt;
  if (l.shnum == 0) {
    unsigned char raw[8];
    if (!f.Read(l.shoff + (l.is64 ? 32 : 20), raw, l.is64 ? 8 : 4)) return std::nullopt;
    l.shnum = l.d.Get(raw, l.is64 ? 8 : 4);
  }
  if (l.shstrndx == SHN_XINDEX) l.shstrndx = first.link;
  if (l.shstrndx >= l.shnum || l.shnum > 65536 * 16) return std::nullopt;

  Section names;
  if (!ReadSection(f, l, l.shstrndx, names)) return std::nullopt;
  const std::size_t wantLen = sizeof(kVersionSectionName);  // with its terminator
  for (std::uint64_t i = 1; i < l.shnum; ++i) {
    Section s;
    if (!ReadSection(f, l, i, s)) return std::nullopt;
    if (s.type == SHT_NOBITS || s.size == 0 || s.size > kMaxSectionSize) continue;
    if (s.name >= names.size || names.size - s.name < wantLen) continue;
    char name[sizeof(kVersionSectionName)];
    if (!f.Read(names.offset + s.name, name, wantLen)) continue;
    if (std::memcmp(name, kVersionSectionName, wantLen) != 0) continue;
    std::vector<unsigned char> bytes(s.size);
    if (!f.Read(s.offset, bytes.data(), s.size)) return std::nullopt;
    VersionRecord record;
    if (!ParseRecord(bytes, record)) return std::nullopt;
    return record;
  }
  return std::nullopt;
}

}  // namespace platform
