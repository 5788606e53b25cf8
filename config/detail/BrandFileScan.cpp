#include "config/detail/BrandFileScan.h"

#include <cstdint>
#include <fstream>
#include <iterator>

#include "platform/profile/Profile.h"

namespace brandcheck {
namespace {

std::wstring Trim(const std::wstring& s) {
  return std::wstring(platform::TrimProfileBlanks(s));
}

void CheckUtf16Units(const std::string& bytes, std::vector<std::string>& errors) {
  if (bytes.size() % 2 != 0) errors.push_back("odd number of bytes for UTF-16");
  for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
    auto u = static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i]) |
                                        static_cast<unsigned char>(bytes[i + 1]) << 8);
    bool high = u >= 0xD800 && u <= 0xDBFF;
    bool low = u >= 0xDC00 && u <= 0xDFFF;
    if (low) {
      errors.push_back("unpaired UTF-16 surrogate at byte " + std::to_string(i));
      return;
    }
    if (high) {
      std::uint32_t next =
          i + 3 < bytes.size()
              ? static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 2]) |
                                           static_cast<unsigned char>(bytes[i + 3]) << 8)
              : 0;
      if (next < 0xDC00 || next > 0xDFFF) {
        errors.push_back("unpaired UTF-16 surrogate at byte " + std::to_string(i));
        return;
      }
      i += 2;
    }
  }
}

void CheckLineEnds(const std::wstring& text, std::vector<std::string>& errors) {
  int line = 1;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'\n') {
      if (i == 0 || text[i - 1] != L'\r') {
        errors.push_back("line " + std::to_string(line) + " ends in LF without CR");
        return;
      }
      ++line;
    } else if (text[i] == L'\r' && (i + 1 >= text.size() || text[i + 1] != L'\n')) {
      errors.push_back("line " + std::to_string(line) + " ends in CR without LF");
      return;
    }
  }
}

}  // namespace

void ScanLines(const std::wstring& text, ScannedFile& out) {
  int lineNo = 0;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find(L'\n', pos);
    if (end == std::wstring::npos) end = text.size();
    std::wstring line = Trim(text.substr(pos, end - pos));
    pos = end + 1;
    ++lineNo;
    if (line.empty() || line.front() == L';') continue;
    if (line.front() == L'[') {
      std::size_t close = line.find(L']');
      out.sections.push_back(ScannedSection{
          Trim(line.substr(1, close == std::wstring::npos ? std::wstring::npos : close - 1)),
          lineNo,
          {}});
      continue;
    }
    ScannedEntry entry;
    entry.line = lineNo;
    std::size_t eq = line.find(L'=');
    entry.hasEquals = eq != std::wstring::npos;
    entry.key = entry.hasEquals ? Trim(line.substr(0, eq)) : line;
    if (entry.hasEquals) entry.value = Trim(line.substr(eq + 1));
    (out.sections.empty() ? out.beforeSections : out.sections.back().entries).push_back(entry);
  }
}

std::optional<ScannedFile> ScanFile(const std::filesystem::path& path, Encoding encoding) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ScannedFile out;
  if (encoding == Encoding::kUtf16Le) {
    if (bytes.size() < 2 || bytes[0] != '\xFF' || bytes[1] != '\xFE') {
      out.encodingErrors.push_back("not UTF-16LE with a byte-order mark");
      return out;
    }
    CheckUtf16Units(bytes, out.encodingErrors);
    out.text = platform::DecodeUtf16(std::string_view(bytes).substr(2),
                                     platform::ByteOrder::kLittleEndian);
  } else {
    if (bytes.size() >= 2 && ((bytes[0] == '\xFF' && bytes[1] == '\xFE') ||
                              (bytes[0] == '\xFE' && bytes[1] == '\xFF'))) {
      out.encodingErrors.push_back("must be plain ASCII, found a UTF-16 byte-order mark");
      return out;
    }
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      if (static_cast<unsigned char>(bytes[i]) >= 0x80 || bytes[i] == '\0') {
        out.encodingErrors.push_back("must be plain ASCII, byte " + std::to_string(i) + " is not");
        break;
      }
    }
    out.text.assign(bytes.begin(), bytes.end());
    for (wchar_t& c : out.text) c = static_cast<wchar_t>(static_cast<unsigned char>(c));
  }
  CheckLineEnds(out.text, out.encodingErrors);
  ScanLines(out.text, out);
  return out;
}

}  // namespace brandcheck
