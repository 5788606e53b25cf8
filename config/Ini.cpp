#include "config/Ini.h"

#include <vector>

#include "platform/profile/Profile.h"

namespace {

constexpr std::size_t kValueBufferChars = 256;
constexpr std::size_t kSectionBufferChars = 4096;

}  // namespace

std::wstring ReadIniValue(const std::wstring& file, const std::wstring& section,
                          const std::wstring& key) {
  return platform::ReadProfileString(file, section, key, L"", kValueBufferChars);
}

bool ReadIniSection(const std::wstring& file, const std::wstring& section, IniSection& table) {
  for (const std::wstring& line :
       platform::ReadProfileSection(file, section, kSectionBufferChars)) {
    std::size_t eq = line.find(L'=');
    if (eq == std::wstring::npos) {
      table[line] = L"";
    } else {
      table[line.substr(0, eq)] = line.substr(eq + 1);
    }
  }
  return true;
}

std::wstring ReplaceAll(std::wstring text, std::wstring_view what, std::wstring_view with) {
  if (what.empty()) return text;
  std::size_t pos = 0;
  while ((pos = text.find(what, pos)) != std::wstring::npos) {
    text.replace(pos, what.size(), with);
    pos += with.size();
  }
  return text;
}

IniSections ParseIniText(std::wstring_view text) {
  IniSections sections;
  std::wstring current;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find(L'\n', pos);
    if (end == std::wstring_view::npos) end = text.size();
    std::wstring_view line = platform::TrimProfileBlanks(text.substr(pos, end - pos));
    pos = end + 1;
    if (line.empty() || line.front() == L';') continue;
    if (line.front() == L'[') {
      std::wstring_view name = line.substr(1);
      current = std::wstring(name.substr(0, name.find(L']')));
      sections[current];
      continue;
    }
    std::size_t eq = line.find(L'=');
    if (eq == std::wstring_view::npos) continue;
    sections[current][std::wstring(platform::TrimProfileBlanks(line.substr(0, eq)))] =
        std::wstring(platform::TrimProfileBlanks(line.substr(eq + 1)));
  }
  return sections;
}
