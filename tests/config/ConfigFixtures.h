// Files the configuration tests write: UTF-16LE ini files and zip archives made with libzip.
#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace configtest {

// UTF-16LE bytes with a byte-order mark; "\n" becomes CR LF.
std::string Utf16File(const std::wstring& text);

// A zip archive in memory; each entry is stored deflated under its name as given.
std::string MakeZip(const std::vector<std::pair<std::string, std::string>>& entries);

// A language folder (ending in "/") with the three ini files of a small brand.
struct LanguageFolderFiles {
  std::string languageIni;  // 8-bit
  std::wstring productIni;  // written as UTF-16LE
  std::wstring textIni;     // written as UTF-16LE
};
LanguageFolderFiles DemoLanguageFiles();
void WriteLanguageFolder(const std::filesystem::path& folder, const LanguageFolderFiles& files);

}  // namespace configtest
