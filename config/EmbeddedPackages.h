// The start-up steps that take the embedded language package and domain code out of the
// executable. UI thread, during start-up (the window controller forwards to these).
#pragma once

#include <string>
#include <string_view>

class LanguageManager;

// Logs "LoadResZipFile" and writes the language package (resource 105) into `languageFolder`.
// False when the resource is missing or not every entry could be written; the language manager
// then falls back to its defaults for what is missing.
bool LoadResZipFile(const std::wstring& languageFolder);

// Logs "LoadDomainFile", sets the manager's custom value from the domain code (resource 106)
// and logs "Domain:%s" with the raw text. False (custom value untouched) when the resource is
// missing.
bool LoadDomainFile(LanguageManager& manager);

// The custom value for a raw domain resource: at most its first 254 bytes, up to a zero byte,
// in the locale's character set, with every CR LF pair removed (a lone CR or LF stays).
std::wstring DomainTextToCustom(std::string_view raw);
