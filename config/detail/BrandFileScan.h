// Byte-level reading of brand files for the checker: the encoding rules and a line scanner
// that keeps what a map would lose (order, duplicates, line numbers).
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace brandcheck {

enum class Encoding { kAscii, kUtf16Le };

struct ScannedEntry {
  std::wstring key;
  std::wstring value;
  bool hasEquals = false;
  int line = 0;
};

struct ScannedSection {
  std::wstring name;
  int line = 0;
  std::vector<ScannedEntry> entries;
};

struct ScannedFile {
  std::wstring text;                        // decoded, byte-order mark removed
  std::vector<std::string> encodingErrors;  // encoding and line-end faults
  std::vector<ScannedEntry> beforeSections;
  std::vector<ScannedSection> sections;
};

// Reads and scans the file; nullopt when it cannot be read.
std::optional<ScannedFile> ScanFile(const std::filesystem::path& path, Encoding encoding);

// Scans decoded text the way the profile reader splits it (";" comments, "[name]" headers).
void ScanLines(const std::wstring& text, ScannedFile& out);

}  // namespace brandcheck
