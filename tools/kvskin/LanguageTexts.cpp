#include "tools/kvskin/LanguageTexts.h"

#include <stdlib.h>

#include <filesystem>

#include "config/EmbeddedPackages.h"
#include "config/LanguageManager.h"
#include "log/Log.h"

namespace kvskin {

bool LoadLanguageTexts(unsigned lcid, LanguageTexts& out) {
  std::string pattern = (std::filesystem::temp_directory_path() / "kvskin.XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) return false;
  std::filesystem::path scratch = pattern;
  bool ok = false;
  {
    // The manager logs its steps; that log stays in the scratch folder.
    LogInit(L"kvskin.log", scratch.wstring().c_str());
    const std::wstring folder = (scratch / "language").wstring() + L"/";
    if (LoadResZipFile(folder)) {
      LanguageManager manager;
      manager.Init(folder, std::to_wstring(lcid));
      out.language = manager.GetLanguage();
      out.rightToLeft = manager.IsRightToLeft();
      static const std::pair<const wchar_t*, const wchar_t*> kBindings[] = {
          {L"btn_install", L"STR_INSTALL"},      {L"btn_hide", L"STR_HIDE"},
          {L"btn_start", L"STR_START"},          {L"label_path", L"STR_INSTALL_PATH"},
          {L"btn_browse", L"STR_BROWSE"},        {L"btn_lisence", L"STR_LISENCE"},
          {L"label_install", L"STR_INSTALLING"}, {L"chk_fold", L"STR_CUSTOMIZE_INSTALL"},
      };
      out.controls.clear();
      for (const auto& [control, key] : kBindings) {
        out.controls.emplace_back(control, manager.GetText(key));
      }
      ok = true;
    }
  }
  std::error_code ec;
  std::filesystem::remove_all(scratch, ec);
  return ok;
}

}  // namespace kvskin
