// Writing a zip archive held in memory into a folder. Any thread; one caller per folder at a
// time keeps the result predictable, though concurrent writers never leave a torn file.
#pragma once

#include <cstddef>
#include <string>

// Writes every entry of the archive below `folder` (created with missing parents), replacing
// files of the same name. Entries of size zero and names ending in "/" become folders; "\" in
// names counts as "/". Entries whose names are absolute or step out with ".." are skipped.
// Returns false when the archive cannot be read or any entry could not be written (the other
// entries are still written).
bool ExtractZipToFolder(const void* data, std::size_t size, const std::wstring& folder);
