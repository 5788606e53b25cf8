#include "config/LanguageManager.h"

// What the test itself uses.
#include <gtest/gtest.h>

#include <cstdlib>

#include "config/BrandConstants.h"
#include "config/LanguageTables.h"
#include "sys/SystemInfo.h"
#include "tests/config/ConfigFixtures.h"
#include "tests/support/TestSupport.h"

namespace {

class LanguageManagerTest : public ::testing::Test {
 protected:
  void SetUp() override { configtest::WriteLanguageFolder(dir.path(), files); }
  std::wstring Folder() const { return dir.path().wstring() + L"/"; }
  void Rewrite() { configtest::WriteLanguageFolder(dir.path(), files); }
  void Urls(LanguageManager& m, const std::wstring& ini) {
    std::string bytes = configtest::Utf16File(ini);
    m.LoadUrlConfigFrom(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
  }

  kvtest::TempDir dir;
  configtest::LanguageFolderFiles files = configtest::DemoLanguageFiles();
};

TEST_F(LanguageManagerTest, LanguageChoiceAndRightToLeft) {
  struct Case {
    const wchar_t* id;
    const wchar_t* language;
    bool rtl;
  } cases[] = {{L"1033", L"English", false}, {L"1025", L"Arabic", true},
               {L"1037", L"Hebrew", true},   {L"1055", L"Turkey", false},
               {L"2057", L"English", false}, {L"99999", L"English", false},
               {L"", L"English", false}};
  for (const Case& c : cases) {
    LanguageManager m;
    m.Init(Folder(), c.id);
    EXPECT_EQ(m.GetLanguage(), c.language) << c.id;
    EXPECT_EQ(m.IsRightToLeft(), c.rtl) << c.id;
  }
}

TEST_F(LanguageManagerTest, FolderWithoutTrailingSeparatorIsAccepted) {
  LanguageManager m;
  m.Init(dir.path().wstring(), L"1036");
  EXPECT_EQ(m.GetLanguage(), L"French");
  EXPECT_EQ(m.GetText(L"STR_INSTALL"), L"Installer");
  EXPECT_EQ(m.GetFolder(), dir.path().wstring() + L"/");
}

TEST_F(LanguageManagerTest, LanguageComesFromTheLocale) {
  const char* old = std::getenv("LC_ALL");
  std::string saved = old ? old : "";
  setenv("LC_ALL", "ar_SA.UTF-8", 1);
  LanguageManager m;
  m.Init(Folder());
  if (old) {
    setenv("LC_ALL", saved.c_str(), 1);
  } else {
    unsetenv("LC_ALL");
  }
  EXPECT_EQ(m.GetLanguage(), L"Arabic");
  EXPECT_TRUE(m.IsRightToLeft());
}

TEST_F(LanguageManagerTest, MissingLanguageFileKeepsEnglishAndDefaults) {
  LanguageManager m;
  m.Init(dir.path().wstring() + L"/nowhere/", L"1025");
  EXPECT_EQ(m.GetLanguage(), L"English");
  EXPECT_FALSE(m.IsRightToLeft());
  // No product values: placeholders become empty text, BRAND falls back to the brand word.
  EXPECT_EQ(m.GetText(L"STR_MESSAGEBOX_TITLE"), L" Setup");
  EXPECT_NE(m.GetBrandName(), L"");
  EXPECT_EQ(m.GetText(L"STR_LISENCE"),
            L"I've read and agreed to {c }" + m.GetBrandName() + L" License Agreement{/c}");
  EXPECT_EQ(m.GetProductName(), L"");
  EXPECT_EQ(m.GetInstallSubDir(), L"");
  EXPECT_EQ(m.GetExeRelativePath(), L"");
  EXPECT_TRUE(m.IsRunAsAdmin());
  EXPECT_EQ(m.Strings().size(), DefaultStrings().size());
}

TEST_F(LanguageManagerTest, TextTableOverridesDefaultsAndFillsPlaceholders) {
  LanguageManager m;
  m.Init(Folder(), L"1036");
  EXPECT_EQ(m.GetText(L"STR_INSTALL"), L"Installer");
  EXPECT_EQ(m.GetText(L"STR_MESSAGEBOX_TITLE"), L"Installation de Acme Widget");
  // Keys the section lacks keep their English text.
  EXPECT_EQ(m.GetText(L"STR_MB"), L"MB");
  EXPECT_EQ(m.GetText(L"STR_START"), L"Start\u00A0Now");
  EXPECT_EQ(m.GetText(L"STR_LISENCE"),
            L"I've read and agreed to {c #123456}Acme License Agreement{/c}");
  // A key that is not a default is added; PRODUCT twice is replaced twice.
  EXPECT_EQ(m.GetText(L"STR_EXTRA"), L"Acme Widget et Acme Widget");
  EXPECT_EQ(m.GetText(L"STR_UNKNOWN"), L"");

  LanguageManager zh;
  zh.Init(Folder(), L"2052");
  EXPECT_EQ(
      zh.GetText(L"STR_LISENCE"),
      L"\u6211\u5DF2\u9605\u8BFB\u5E76\u540C\u610F{c #123456}Acme\u7528\u6237\u534F\u8BAE{/c}");
}

TEST_F(LanguageManagerTest, BrandIsReplacedAfterProduct) {
  files.productIni = L"[PRODUCT]\nSTR_PRODUCT_NAME=BRAND Studio\nSTR_BRAND_NAME=Acme\n";
  Rewrite();
  LanguageManager m;
  m.Init(Folder(), L"1033");
  EXPECT_EQ(m.GetText(L"STR_MESSAGEBOX_TITLE"), L"Acme Studio Setup");
  EXPECT_EQ(m.GetText(L"STR_SOFT_RUN").substr(0, 22), L"Acme Studio is running");
}

TEST_F(LanguageManagerTest, LoadTextTableTwiceGivesTheSameTable) {
  LanguageManager m;
  m.Init(Folder(), L"1036");
  auto first = m.Strings();
  m.LoadTextTable();
  EXPECT_EQ(m.Strings(), first);
  EXPECT_EQ(m.GetText(L"STR_MESSAGEBOX_TITLE"), L"Installation de Acme Widget");
}

TEST_F(LanguageManagerTest, ProductAccessors) {
  LanguageManager m;
  m.Init(Folder(), L"1033");
  EXPECT_EQ(m.GetGATitle(), L"Acme Widget");
  EXPECT_EQ(m.GetExeName(), L"Widget.exe");
  EXPECT_EQ(m.GetInstallSubDir(), L"Acme/Acme Widget/");
  EXPECT_EQ(m.GetExeRelativePath(), L"Acme/Acme Widget/Widget.exe");
  EXPECT_TRUE(m.IsRunAsAdmin());
  EXPECT_EQ(m.GetDownloadRatio(), 90);
  EXPECT_EQ(m.GetReadFileTimeout(), 1500);

  files.productIni =
      L"[PRODUCT]\nSTR_DIR1_NAME=\nSTR_DIR2_NAME=Only\nSTR_EXE_NAME=a.exe\n"
      L"STR_RUN_AS_ADMIN=0\n";
  Rewrite();
  m.Init(Folder(), L"1033");
  EXPECT_EQ(m.GetInstallSubDir(), L"Only/");
  EXPECT_EQ(m.GetExeRelativePath(), L"Only/a.exe");
  EXPECT_FALSE(m.IsRunAsAdmin());
  for (const wchar_t* v : {L"false", L"", L" 0", L"00"}) {
    files.productIni = std::wstring(L"[PRODUCT]\nSTR_RUN_AS_ADMIN=\"") + v + L"\"\n";
    Rewrite();
    m.Init(Folder(), L"1033");
    EXPECT_TRUE(m.IsRunAsAdmin()) << v;
  }
}

TEST_F(LanguageManagerTest, UrlsAreCompletedWithPidLanguageAndDomainCode) {
  LanguageManager m;
  m.Init(Folder(), L"1033");
  Urls(m,
       L"\uFEFF; comment\n[CommonUrl]\n"
       L"STR_DOWN_URL=https://dl.example/setup.exe\n"
       L"STR_DOWN_URL_X64=https://dl.example/setup64.exe\n"
       L"STR_LICENCE_URL=https://api.example/producturl?key=license_agreement\n"
       L"STR_INSTALL_URL=https://api.example/producturl?key=installed\n"
       L";STR_DOWN_URLEX=https://api.example/producturl?key=pkg_url\n");
  // Before the domain code is set nothing but pid and lang is added.
  EXPECT_EQ(m.GetInstallUrl(), L"https://api.example/producturl?key=installed&pid=77&lang=English");
  m.SetCustom(L"com_ru");
  EXPECT_EQ(m.GetInstallUrl(),
            L"https://api.example/producturl?key=installed&pid=77&lang=English&custom=com_ru");
  EXPECT_EQ(m.GetLicenceUrl(),
            L"https://api.example/producturl?key=license_agreement&pid=77"
            L"&lang=English&custom=com_ru");
  // Download addresses are used as they stand; a commented key does not exist.
  EXPECT_EQ(m.GetDownloadUrl(),
            Is64BitSystem() ? L"https://dl.example/setup64.exe" : L"https://dl.example/setup.exe");
  EXPECT_EQ(m.GetUrlValue(L"STR_DOWN_URL"), L"https://dl.example/setup.exe");
  EXPECT_EQ(m.GetDownloadUrlEx(), L"");
  EXPECT_FALSE(m.Urls().count(L"STR_DOWN_URLEX"));
  // The carousel request names product and language only, never the domain code.
  EXPECT_EQ(m.GetCarouselUrl(), std::wstring(brand::kCarouselScheme) + L"://" +
                                    brand::kCarouselHost +
                                    L"/downloader/carousel?pid=77&lang=English");
}

TEST_F(LanguageManagerTest, AppendCustomNeedsKeyInTheUrl) {
  LanguageManager m;
  m.Init(Folder(), L"1033");
  Urls(m,
       L"[CommonUrl]\nSTR_INSTALL_URL=https://api.example/thanks.html\n"
       L"STR_DOWN_URLEX=https://api.example/r?key=pkg_url\n");
  m.SetCustom(L"com_ru");
  EXPECT_EQ(m.GetInstallUrl(), L"https://api.example/thanks.html&pid=77&lang=English");
  EXPECT_EQ(m.GetDownloadUrlEx(),
            L"https://api.example/r?key=pkg_url&pid=77&lang=English&custom=com_ru");
  EXPECT_EQ(m.AppendCustom(L""), L"");
  m.SetCustom(L"");
  EXPECT_EQ(m.AppendCustom(L"https://x/?key=1"), L"https://x/?key=1");
}

TEST_F(LanguageManagerTest, LanguageSectionOverridesCommonUrls) {
  const std::wstring ini =
      L"[CommonUrl]\n"
      L"STR_LICENCE_URL=https://api.example/producturl?key=license_agreement\n"
      L"STR_INSTALL_URL=https://api.example/producturl?key=installed\n"
      L"[French]\n"
      L"STR_LICENCE_URL=https://fr.example/licence.html\n"
      L"STR_INSTALL_URL=\n"
      L"STR_NEW=https://fr.example/new\n";
  LanguageManager fr;
  fr.Init(Folder(), L"1036");
  Urls(fr, ini);
  fr.SetCustom(L"com_ru");
  EXPECT_EQ(fr.GetLicenceUrl(), L"https://fr.example/licence.html");
  EXPECT_EQ(fr.GetInstallUrl(),
            L"https://api.example/producturl?key=installed&pid=77&lang=French&custom=com_ru");
  EXPECT_EQ(fr.GetUrlValue(L"STR_NEW"), L"https://fr.example/new");

  LanguageManager en;
  en.Init(Folder(), L"1033");
  Urls(en, ini);
  EXPECT_EQ(en.GetLicenceUrl(),
            L"https://api.example/producturl?key=license_agreement&pid=77&lang=English");
  EXPECT_EQ(en.GetUrlValue(L"STR_NEW"), L"");
}

TEST_F(LanguageManagerTest, UrlConfigWithoutCommonSectionOrPid) {
  files.productIni = L"[PRODUCT]\nSTR_PRODUCT_NAME=X\n";
  Rewrite();
  LanguageManager m;
  m.Init(Folder(), L"1033");
  Urls(m, L"[Other]\nSTR_INSTALL_URL=https://a/?key=1\n");
  EXPECT_EQ(m.GetInstallUrl(), L"");
  EXPECT_EQ(m.GetDownloadUrl(), L"");
  Urls(m, L"[CommonUrl]\nSTR_INSTALL_URL=https://a/?key=1\n");
  EXPECT_EQ(m.GetInstallUrl(), L"https://a/?key=1&pid=&lang=English");
  // Text that is no ini at all, or nothing, leaves an empty table and never fails.
  Urls(m, L"\u0001\u0002garbage");
  EXPECT_TRUE(m.Urls().empty());
  m.LoadUrlConfigFrom(nullptr, 0);
  EXPECT_TRUE(m.Urls().empty());
}

}  // namespace
