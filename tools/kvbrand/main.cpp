// kvbrand: checks a brand's data folder, and shows what the executable's embedded brand
// resolves to for a UI language.
#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "config/BrandCheck.h"
#include "config/EmbeddedPackages.h"
#include "config/LanguageManager.h"
#include "config/LanguageTables.h"
#include "log/Log.h"
#include "sys/SystemInfo.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: kvbrand check DATA_DIR\n"
               "       kvbrand show [--lang ID]\n");
  return 2;
}

int Check(const std::filesystem::path& folder) {
  std::vector<BrandProblem> problems = CheckBrandFolder(folder);
  for (const BrandProblem& p : problems) std::printf("%s\n", FormatBrandProblem(p).c_str());
  if (problems.empty()) {
    std::printf("%s: no problems\n", folder.c_str());
    return 0;
  }
  std::printf("%zu problem%s\n", problems.size(), problems.size() == 1 ? "" : "s");
  return 1;
}

void Line(const char* label, const std::wstring& value) {
  std::printf("%-22s %s\n", label, WideToUtf8(value).c_str());
}

// A folder that is removed with everything in it when the command ends.
class ScratchFolder {
 public:
  ScratchFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kvbrand.XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~ScratchFolder() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

int Show(const std::wstring& uiLanguageId) {
  ScratchFolder scratch;
  if (scratch.path().empty()) {
    std::fprintf(stderr, "kvbrand: cannot create a temporary folder\n");
    return 1;
  }
  // The manager logs its steps; keep that log out of the user's folders.
  LogInit(L"kvbrand.log", scratch.path().wstring().c_str());
  const std::wstring folder = (scratch.path() / "language").wstring() + L"/";
  if (!LoadResZipFile(folder)) {
    std::fprintf(stderr, "kvbrand: this executable's language package cannot be extracted\n");
    return 1;
  }
  LanguageManager manager;
  manager.Init(folder, uiLanguageId);
  LoadDomainFile(manager);

  Line("ui language id", uiLanguageId);
  Line("language", manager.GetLanguage());
  Line("direction", manager.IsRightToLeft() ? L"right to left" : L"left to right");
  Line("domain code", manager.GetCustom());
  std::printf("\n[strings]\n");
  // The program's keys in their usual order, then any the language adds.
  for (const std::wstring& key : DefaultStringKeys()) {
    std::printf("%s=%s\n", WideToUtf8(key).c_str(), WideToUtf8(manager.GetText(key)).c_str());
  }
  for (const auto& [key, value] : manager.Strings()) {
    if (!DefaultStrings().count(key)) {
      std::printf("%s=%s\n", WideToUtf8(key).c_str(), WideToUtf8(value).c_str());
    }
  }
  std::printf("\n[product]\n");
  for (const auto& [key, value] : manager.Product()) {
    std::printf("%s=%s\n", WideToUtf8(key).c_str(), WideToUtf8(value).c_str());
  }
  Line("install folder", manager.GetInstallSubDir());
  Line("product executable", manager.GetExeRelativePath());
  Line("run as admin", manager.IsRunAsAdmin() ? L"yes" : L"no (interactive user)");
  std::printf("\n[urls]\n");
  Line("download", manager.GetDownloadUrl());
  Line("download 32-bit", manager.GetUrlValue(L"STR_DOWN_URL"));
  Line("download 64-bit", manager.GetUrlValue(L"STR_DOWN_URL_X64"));
  Line("download redirect", manager.GetDownloadUrlEx());
  Line("licence", manager.GetLicenceUrl());
  Line("after install", manager.GetInstallUrl());
  Line("carousel", manager.GetCarouselUrl());
  Line("analytics", manager.GetAnalyticsUrl());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "check") == 0) return Check(argv[2]);
  if (argc >= 2 && std::strcmp(argv[1], "show") == 0) {
    if (argc == 2) return Show(GetUiLanguageId());
    if (argc == 4 && std::strcmp(argv[2], "--lang") == 0) {
      std::string id = argv[3];
      if (id.empty() || id.find_first_not_of("0123456789") != std::string::npos) {
        std::fprintf(stderr, "kvbrand: --lang takes a decimal language id, e.g. 1033\n");
        return 2;
      }
      return Show(Utf8ToWide(id));
    }
  }
  return Usage();
}
