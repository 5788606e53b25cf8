#include "tests/config/ConfigFixtures.h"

#include <zip.h>

#include <cstdint>
#include <stdexcept>

#include "tests/support/TestSupport.h"

namespace configtest {

std::string Utf16File(const std::wstring& text) {
  std::string out = "\xFF\xFE";
  auto push = [&](std::uint32_t u) {
    out += static_cast<char>(u & 0xFF);
    out += static_cast<char>(u >> 8);
  };
  for (wchar_t wc : text) {
    auto c = static_cast<std::uint32_t>(wc);
    if (c == L'\n') push(L'\r');
    if (c >= 0x10000) {
      push(0xD800 + ((c - 0x10000) >> 10));
      push(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      push(c);
    }
  }
  return out;
}

std::string MakeZip(const std::vector<std::pair<std::string, std::string>>& entries) {
  kvtest::TempDir dir;
  std::string path = (dir / "a.zip").string();
  int err = 0;
  zip_t* z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
  if (z == nullptr) throw std::runtime_error("zip_open failed");
  for (const auto& [name, bytes] : entries) {
    zip_source_t* src = zip_source_buffer(z, bytes.data(), bytes.size(), 0);
    zip_int64_t idx = zip_file_add(z, name.c_str(), src, ZIP_FL_ENC_UTF_8 | ZIP_FL_OVERWRITE);
    if (idx < 0) {
      zip_source_free(src);
      zip_discard(z);
      throw std::runtime_error("zip_file_add failed for " + name);
    }
    zip_set_file_compression(z, static_cast<zip_uint64_t>(idx), ZIP_CM_DEFLATE, 9);
  }
  if (zip_close(z) != 0) {
    zip_discard(z);
    throw std::runtime_error("zip_close failed");
  }
  return kvtest::ReadFile(path);
}

LanguageFolderFiles DemoLanguageFiles() {
  LanguageFolderFiles f;
  f.languageIni =
      "[Language]\r\n1033=English\r\n1025=Arabic\r\n1036=French\r\n1037=Hebrew\r\n"
      "1055=Turkey\r\n2052=Chinese\r\n";
  f.productIni =
      L"[PRODUCT]\n"
      L"STR_GA_TTTLE=Acme Widget\n"
      L"STR_PRODUCT_NAME=Acme Widget\n"
      L"STR_DIR1_NAME=Acme\n"
      L"STR_DIR2_NAME=Acme Widget\n"
      L"STR_EXE_NAME=Widget.exe\n"
      L"STR_LISENCE_COLOR=#123456\n"
      L"STR_BRAND_NAME=Acme\n"
      L"STR_RUN_AS_ADMIN=1\n"
      L"STR_PID=77\n";
  f.textIni =
      L"[Arabic]\n"
      L"STR_INSTALL=\u062A\u062B\u0628\u064A\u062A\n"
      L"[French]\n"
      L"STR_INSTALL=Installer\n"
      L"STR_MESSAGEBOX_TITLE=Installation de PRODUCT\n"
      L"STR_EXTRA=PRODUCT et PRODUCT\n"
      L"[Chinese]\n"
      L"STR_LISENCE=\u6211\u5DF2\u9605\u8BFB\u5E76\u540C\u610F{c COLOR}BRAND\u7528\u6237"
      L"\u534F\u8BAE{/c}\n";
  return f;
}

void WriteLanguageFolder(const std::filesystem::path& folder, const LanguageFolderFiles& files) {
  std::filesystem::create_directories(folder);
  kvtest::WriteFile(folder / "language.ini", files.languageIni);
  kvtest::WriteFile(folder / "productInfo.ini", Utf16File(files.productIni));
  kvtest::WriteFile(folder / "text.ini", Utf16File(files.textIni));
}

}  // namespace configtest
