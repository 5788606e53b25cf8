// The version record every executable of the project carries in its ".kv_version" ELF
// section (written by CMake's kv_version_record): FileVersion and FileDescription.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace platform {

inline constexpr char kVersionSectionName[] = ".kv_version";
inline constexpr char kVersionMagic[8] = {'K', 'V', 'V', 'E', 'R', '0', '1', '\0'};

// Layout on disk; the UTF-8 description of descriptionLength bytes follows the header.
struct VersionRecordHeader {
  char magic[8];
  std::uint16_t version[4];
  std::uint16_t descriptionLength;
};

struct VersionRecord {
  std::uint16_t version[4] = {0, 0, 0, 0};
  std::string description;  // UTF-8
};

// Reads the record from the executable at `path` (any ELF file on disk). nullopt when the file
// cannot be read, is not ELF, or has no valid record. Any thread.
std::optional<VersionRecord> ReadVersionRecord(const std::string& path);

}  // namespace platform
