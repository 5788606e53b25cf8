#include "config/BrandCheck.h"

#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <set>

#include "config/Ini.h"
#include "config/LanguageTables.h"
#include "config/detail/BrandFileScan.h"
#include "sys/SystemInfo.h"

namespace {

using brandcheck::Encoding;
using brandcheck::ScannedFile;
using brandcheck::ScannedSection;

// ReadIniSection reads through 4096 characters, two of which end the list.
constexpr std::size_t kSectionBudget = 4094;

class Checker {
 public:
  explicit Checker(const std::filesystem::path& folder) : folder_(folder) {}

  std::vector<BrandProblem> Run() {
    CheckLanguageIni();
    CheckProductIni();
    CheckTextIni();
    CheckUrlIni();
    CheckDomain();
    CheckBuildValues();
    return std::move(problems_);
  }

 private:
  void Add(const std::string& file, const std::wstring& section, const std::wstring& key,
           const std::string& message) {
    problems_.push_back(BrandProblem{file, section, key, message});
  }

  // Scans the file and reports its encoding faults and its structural faults shared by all ini
  // files (text before the first section, duplicate sections and keys, lines without "=").
  std::optional<ScannedFile> Scan(const std::string& file, Encoding encoding) {
    auto scanned = brandcheck::ScanFile(folder_ / file, encoding);
    if (!scanned) {
      Add(file, L"", L"", "file is missing or unreadable");
      return std::nullopt;
    }
    for (const std::string& e : scanned->encodingErrors) Add(file, L"", L"", e);
    if (!scanned->beforeSections.empty()) {
      Add(file, L"", scanned->beforeSections.front().key, "value outside any section");
    }
    std::set<std::wstring> seenSections;
    for (const ScannedSection& s : scanned->sections) {
      if (!seenSections.insert(s.name).second) {
        Add(file, s.name, L"", "section appears twice (only the first is read)");
      }
      std::set<std::wstring> seenKeys;
      for (const auto& e : s.entries) {
        if (!e.hasEquals) Add(file, s.name, e.key, "line without \"=\"");
        if (!seenKeys.insert(e.key).second) Add(file, s.name, e.key, "key appears twice");
      }
    }
    return scanned;
  }

  static const ScannedSection* Find(const ScannedFile& f, const std::wstring& name) {
    for (const ScannedSection& s : f.sections) {
      if (s.name == name) return &s;
    }
    return nullptr;
  }

  static std::map<std::wstring, std::wstring> Values(const ScannedSection& s) {
    std::map<std::wstring, std::wstring> v;
    for (const auto& e : s.entries) v.emplace(e.key, e.value);
    return v;
  }

  void CheckLanguageIni() {
    const std::string file = "language.ini";
    auto f = Scan(file, Encoding::kAscii);
    if (!f) return;
    const ScannedSection* s = Find(*f, L"Language");
    if (!s) {
      Add(file, L"Language", L"", "section is missing");
      return;
    }
    auto values = Values(*s);
    std::set<std::wstring> known;
    for (const KnownLanguage& lang : KnownLanguages()) {
      std::wstring id = std::to_wstring(lang.uiLanguageId);
      known.insert(id);
      auto it = values.find(id);
      if (it == values.end()) {
        Add(file, L"Language", id, "missing; expected " + WideToUtf8(lang.name));
      } else if (it->second != lang.name) {
        Add(file, L"Language", id,
            "names \"" + WideToUtf8(it->second) + "\", expected " + WideToUtf8(lang.name));
      }
    }
    for (const auto& [id, name] : values) {
      if (!known.count(id)) Add(file, L"Language", id, "not a language id the program knows");
    }
  }

  void CheckProductIni() {
    const std::string file = "productInfo.ini";
    auto f = Scan(file, Encoding::kUtf16Le);
    if (!f) return;
    const ScannedSection* s = Find(*f, L"PRODUCT");
    if (!s) {
      Add(file, L"PRODUCT", L"", "section is missing");
      return;
    }
    auto values = Values(*s);
    for (const wchar_t* key :
         {L"STR_GA_TTTLE", L"STR_PRODUCT_NAME", L"STR_DIR1_NAME", L"STR_DIR2_NAME", L"STR_EXE_NAME",
          L"STR_LISENCE_COLOR", L"STR_BRAND_NAME", L"STR_RUN_AS_ADMIN", L"STR_PID"}) {
      if (!values.count(key)) Add(file, L"PRODUCT", key, "key is missing");
    }
    for (const wchar_t* key : {L"STR_PRODUCT_NAME", L"STR_EXE_NAME", L"STR_PID"}) {
      if (values.count(key) && values[key].empty()) Add(file, L"PRODUCT", key, "value is empty");
    }
    const std::wstring pid = values[L"STR_PID"];
    if (pid.find_first_not_of(L"0123456789") != std::wstring::npos) {
      Add(file, L"PRODUCT", L"STR_PID", "must be a number");
    }
    const std::wstring color = values[L"STR_LISENCE_COLOR"];
    if (!color.empty() &&
        (color[0] != L'#' || (color.size() != 7 && color.size() != 9) ||
         color.find_first_not_of(L"0123456789abcdefABCDEF", 1) != std::wstring::npos)) {
      Add(file, L"PRODUCT", L"STR_LISENCE_COLOR", "must be #RRGGBB or #AARRGGBB");
    }
    for (const wchar_t* key : {L"STR_DIR1_NAME", L"STR_DIR2_NAME", L"STR_EXE_NAME"}) {
      const std::wstring v = values[key];
      if (v.find_first_of(L"/\\") != std::wstring::npos || v == L".." || v == L".") {
        Add(file, L"PRODUCT", key, "must be a single file or folder name");
      }
    }
  }

  void CheckTextIni();
  void CheckButtonLabels(const std::wstring& language,
                         const std::map<std::wstring, std::wstring>& values);
  void CheckUrlIni();
  void CheckDomain();
  void CheckBuildValues();

  std::filesystem::path folder_;
  std::vector<BrandProblem> problems_;
};

std::size_t Count(const std::wstring& text, const std::wstring& what) {
  std::size_t n = 0;
  for (std::size_t p = text.find(what); p != std::wstring::npos; p = text.find(what, p + 1)) ++n;
  return n;
}

// "{c ...}" opens colour markup, "{/c}" closes it; they may not nest.
bool MarkupBalanced(const std::wstring& text) {
  bool open = false;
  for (std::size_t p = 0; (p = text.find(L'{', p)) != std::wstring::npos; ++p) {
    if (text.compare(p, 3, L"{c ") == 0) {
      if (open || text.find(L'}', p) == std::wstring::npos) return false;
      open = true;
    } else if (text.compare(p, 4, L"{/c}") == 0) {
      if (!open) return false;
      open = false;
    }
  }
  return !open;
}

void Checker::CheckTextIni() {
  const std::string file = "text.ini";
  auto f = Scan(file, Encoding::kUtf16Le);
  if (!f) return;
  const auto& defaults = DefaultStrings();
  std::set<std::wstring> known;
  for (const KnownLanguage& lang : KnownLanguages()) {
    known.insert(lang.name);
    const ScannedSection* s = Find(*f, lang.name);
    if (!s) {
      Add(file, lang.name, L"", "section is missing");
      continue;
    }
    std::size_t chars = 0;
    for (const auto& e : s->entries) chars += e.key.size() + 1 + e.value.size() + 1;
    if (chars > kSectionBudget) {
      Add(file, lang.name, L"",
          "section holds " + std::to_string(chars) + " characters; only " +
              std::to_string(kSectionBudget) + " are read");
    }
    auto values = Values(*s);
    for (const std::wstring& key : DefaultStringKeys()) {
      auto it = values.find(key);
      if (it == values.end()) {
        Add(file, lang.name, key, "key is missing");
        continue;
      }
      const std::wstring& text = it->second;
      const std::wstring& english = defaults.at(key);
      if (text.empty()) Add(file, lang.name, key, "text is empty");
      for (const wchar_t* token : {L"PRODUCT", L"COLOR", L"BRAND", L"{c ", L"{/c}", L"%"}) {
        std::size_t have = Count(text, token), want = Count(english, token);
        if (have != want) {
          Add(file, lang.name, key,
              "holds " + WideToUtf8(token) + " " + std::to_string(have) + " times, English " +
                  std::to_string(want));
        }
      }
      if (!MarkupBalanced(text)) Add(file, lang.name, key, "colour markup is not balanced");
    }
    CheckButtonLabels(lang.name, values);
    for (const auto& [key, value] : values) {
      if (!defaults.count(key)) Add(file, lang.name, key, "not a key the program shows");
    }
  }
  for (const ScannedSection& s : f->sections) {
    if (!known.count(s.name)) Add(file, s.name, L"", "not a language name of language.ini");
  }
}

// The buttons of each message box kind the program shows; one box's labels must differ.
const std::vector<std::vector<const wchar_t*>>& ButtonGroups() {
  static const std::vector<std::vector<const wchar_t*>> groups = {
      {L"STR_BUTTON_OK", L"STR_BUTTON_CANCEL"},
      {L"STR_BUTTON_YES", L"STR_BUTTON_NO", L"STR_BUTTON_CANCEL"},
      {L"STR_BUTTON_ABORT", L"STR_BUTTON_RETRY", L"STR_BUTTON_IGNORE"},
      {L"STR_BUTTON_RETRY", L"STR_BUTTON_CANCEL"},
  };
  return groups;
}

// The download-failure message tells the user which button to click, so it must use the
// labels the buttons carry. Missing or empty labels are reported by the key checks.
void Checker::CheckButtonLabels(const std::wstring& language,
                                const std::map<std::wstring, std::wstring>& values) {
  const std::string file = "text.ini";
  auto label = [&](const wchar_t* key) {
    auto it = values.find(key);
    return it == values.end() ? std::wstring() : it->second;
  };
  for (const auto& group : ButtonGroups()) {
    for (std::size_t i = 0; i < group.size(); ++i) {
      for (std::size_t j = i + 1; j < group.size(); ++j) {
        const std::wstring first = label(group[i]);
        if (!first.empty() && first == label(group[j])) {
          Add(file, language, group[j],
              "same label as " + WideToUtf8(group[i]) + " in one message box");
        }
      }
    }
  }
  auto tip = values.find(L"STR_OPERATE_TIP");
  if (tip == values.end()) return;
  for (const wchar_t* key : {L"STR_BUTTON_ABORT", L"STR_BUTTON_RETRY", L"STR_BUTTON_IGNORE"}) {
    const std::wstring text = label(key);
    if (!text.empty() && tip->second.find(text) == std::wstring::npos) {
      Add(file, language, L"STR_OPERATE_TIP",
          "does not name the " + WideToUtf8(key) + " label \"" + WideToUtf8(text) + "\"");
    }
  }
}

bool IsWebAddress(const std::wstring& v) {
  return v.rfind(L"http://", 0) == 0 || v.rfind(L"https://", 0) == 0;
}

void Checker::CheckUrlIni() {
  const std::string file = "url.ini";
  auto f = Scan(file, Encoding::kUtf16Le);
  if (!f) return;
  // The program's own parser decides what the URLs are.
  IniSections sections = ParseIniText(f->text);
  auto common = sections.find(L"CommonUrl");
  if (common == sections.end()) {
    Add(file, L"CommonUrl", L"", "section is missing");
    return;
  }
  for (const wchar_t* key :
       {L"STR_DOWN_URL", L"STR_DOWN_URL_X64", L"STR_LICENCE_URL", L"STR_INSTALL_URL"}) {
    auto it = common->second.find(key);
    if (it == common->second.end() || it->second.empty()) {
      Add(file, L"CommonUrl", key, "address is missing");
    }
  }
  const std::set<std::wstring> urlKeys = {L"STR_DOWN_URL", L"STR_DOWN_URL_X64", L"STR_LICENCE_URL",
                                          L"STR_INSTALL_URL", L"STR_DOWN_URLEX"};
  std::set<std::wstring> languages;
  for (const KnownLanguage& lang : KnownLanguages()) languages.insert(lang.name);
  for (const auto& [name, section] : sections) {
    if (name != L"CommonUrl" && !languages.count(name)) {
      Add(file, name, L"", "not CommonUrl nor a language name; never read");
    }
    for (const auto& [key, value] : section) {
      if (!urlKeys.count(key)) Add(file, name, key, "not an address the program reads");
      if (!value.empty() && !IsWebAddress(value)) {
        Add(file, name, key, "must start with http:// or https://");
      }
    }
  }
}

void Checker::CheckDomain() {
  const std::string file = "domain.txt";
  std::ifstream in(folder_ / file, std::ios::binary);
  if (!in) {
    Add(file, L"", L"", "file is missing or unreadable");
    return;
  }
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.size() > 254) Add(file, L"", L"", "longer than 254 bytes; the rest is cut");
  std::string body = bytes;
  if (body.size() >= 2 && body.compare(body.size() - 2, 2, "\r\n") == 0)
    body.resize(body.size() - 2);
  if (body.find_first_of(std::string("\r\n\0", 3)) != std::string::npos) {
    Add(file, L"", L"", "must be one line (ending in CR LF)");
  }
  // The code goes into addresses unescaped and becomes a file's content.
  for (char c : body) {
    bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                c == '_' || c == '-' || c == '.';
    if (!safe) {
      Add(file, L"", L"", "may hold only letters, digits, \"_\", \"-\" and \".\"");
      break;
    }
  }
}

// The values brand.cmake sets with set(KV_BRAND_NAME "value"), as configure reads them.
void Checker::CheckBuildValues() {
  const std::string file = "brand.cmake";
  std::ifstream in(folder_ / file, std::ios::binary);
  if (!in) {
    Add(file, L"", L"", "file is missing or unreadable");
    return;
  }
  std::map<std::string, std::string> values = ReadBrandBuildValues(folder_);
  auto problem = [&](const std::string& name, const std::string& message) {
    Add(file, L"", Utf8ToWide("KV_BRAND_" + name), message);
  };
  for (const char* name : {"FILE_DESCRIPTION", "FILE_VERSION", "CAROUSEL_HOST", "ANALYTICS_URL",
                           "DEFAULT_BRAND_NAME"}) {
    if (values[name].empty()) problem(name, "is not set");
  }
  static const std::regex kVersion(R"re(\d{1,5}\.\d{1,5}\.\d{1,5}\.\d{1,5})re");
  const std::string version = values["FILE_VERSION"];
  if (!version.empty() && !std::regex_match(version, kVersion)) {
    problem("FILE_VERSION", "must be four numbers like 1.0.0.1");
  }
  if (values["CAROUSEL_HOST"].find_first_of("/ ") != std::string::npos) {
    problem("CAROUSEL_HOST", "must be a host name with an optional port, no scheme or path");
  }
  if (values.count("CAROUSEL_SCHEME") && values["CAROUSEL_SCHEME"] != "http" &&
      values["CAROUSEL_SCHEME"] != "https") {
    problem("CAROUSEL_SCHEME", "must be http or https");
  }
  const std::string analytics = values["ANALYTICS_URL"];
  if (!analytics.empty() && !IsWebAddress(Utf8ToWide(analytics))) {
    problem("ANALYTICS_URL", "must start with http:// or https://");
  }
}

}  // namespace

std::vector<BrandProblem> CheckBrandFolder(const std::filesystem::path& folder) {
  return Checker(folder).Run();
}

std::map<std::string, std::string> ReadBrandBuildValues(const std::filesystem::path& folder) {
  std::map<std::string, std::string> values;
  std::ifstream in(folder / "brand.cmake", std::ios::binary);
  if (!in) return values;
  std::string text;
  // Comment lines (examples, say) set nothing.
  for (std::string line; std::getline(in, line);) {
    const std::size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] != '#') text += line + "\n";
  }
  static const std::regex kSet(R"re(set\(\s*KV_BRAND_([A-Z_]+)\s+"([^"]*)"\s*\))re");
  for (auto it = std::sregex_iterator(text.begin(), text.end(), kSet); it != std::sregex_iterator();
       ++it) {
    values[(*it)[1]] = (*it)[2];
  }
  return values;
}

IniSections ReadBrandUrlSections(const std::filesystem::path& folder) {
  auto scanned = brandcheck::ScanFile(folder / "url.ini", Encoding::kUtf16Le);
  if (!scanned) return {};
  return ParseIniText(scanned->text);
}

std::string FormatBrandProblem(const BrandProblem& p) {
  std::string line = p.file + ":";
  if (!p.section.empty()) line += " [" + WideToUtf8(p.section) + "]";
  if (!p.key.empty()) line += " " + WideToUtf8(p.key) + ":";
  return line + " " + p.message;
}
