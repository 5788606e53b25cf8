// Validation of a brand's data folder before it is built into the program: encodings, line
// ends, the language table, the UI strings of every language, the product and URL values.
// No state; any thread.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "config/Ini.h"

struct BrandProblem {
  std::string file;      // file name inside the folder
  std::wstring section;  // "" when the problem is not inside a section
  std::wstring key;      // "" when the problem is not about one key
  std::string message;
};

// Every problem found in the folder, in file order; empty when the brand is sound.
std::vector<BrandProblem> CheckBrandFolder(const std::filesystem::path& folder);

// One line of text: "file: [section] key: message" (parts left out when empty), UTF-8.
std::string FormatBrandProblem(const BrandProblem& problem);

// The values brand.cmake sets with set(KV_BRAND_NAME "value"), keyed by NAME (without the
// "KV_BRAND_" prefix); empty when the file cannot be read.
std::map<std::string, std::string> ReadBrandBuildValues(const std::filesystem::path& folder);

// The sections of the brand's url.ini as the program parses them; empty when it cannot be read.
IniSections ReadBrandUrlSections(const std::filesystem::path& folder);
