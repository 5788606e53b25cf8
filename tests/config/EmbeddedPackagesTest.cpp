#include "config/EmbeddedPackages.h"

// What the test itself uses.
#include <gtest/gtest.h>

#include <filesystem>

#include "config/Ini.h"
#include "config/LanguageManager.h"
#include "config/LanguageTables.h"
#include "config/detail/BrandFileScan.h"
#include "log/Log.h"
#include "platform/Resources.h"
#include "sys/SystemInfo.h"
#include "tests/support/TestSupport.h"

namespace {

namespace fs = std::filesystem;

// The brand folder this test executable has embedded.
const fs::path kBrandDir = KV_TEST_BRAND_DIR;

std::string RawResource(int id) {
  auto r = platform::FindResource(platform::kResTypeRcData, id);
  return r ? std::string(reinterpret_cast<const char*>(r.data), r.size) : std::string();
}

class EmbeddedBrand : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    logDir = new kvtest::TempDir;
    LogInit(L"config_test.log", logDir->path().wstring().c_str());
  }
  static void TearDownTestSuite() {
    delete logDir;
    logDir = nullptr;
  }
  std::wstring Folder() const { return (dir / "language").wstring() + L"/"; }

  static kvtest::TempDir* logDir;
  kvtest::TempDir dir;
};
kvtest::TempDir* EmbeddedBrand::logDir = nullptr;

TEST_F(EmbeddedBrand, PackageIsExtractedAndOverwritesEditedFiles) {
  ASSERT_TRUE(LoadResZipFile(Folder()));
  for (const char* name : {"language.ini", "productInfo.ini", "text.ini"}) {
    EXPECT_EQ(kvtest::Sha256Hex(kvtest::ReadFile(dir / "language" / name)),
              kvtest::Sha256Hex(kvtest::ReadFile(kBrandDir / name)))
        << name;
  }
  kvtest::WriteFile(dir / "language" / "text.ini", "[English]\r\nSTR_INSTALL=Hacked\r\n");
  fs::remove(dir / "language" / "language.ini");
  ASSERT_TRUE(LoadResZipFile(Folder()));
  EXPECT_EQ(kvtest::Sha256Hex(kvtest::ReadFile(dir / "language" / "text.ini")),
            kvtest::Sha256Hex(kvtest::ReadFile(kBrandDir / "text.ini")));
  EXPECT_TRUE(fs::exists(dir / "language" / "language.ini"));
  EXPECT_NE(kvtest::ReadFile(LogFilePath()).find("LoadResZipFile"), std::string::npos);
}

TEST_F(EmbeddedBrand, EveryKnownLanguageResolvesFromTheRealPackage) {
  ASSERT_TRUE(LoadResZipFile(Folder()));
  const std::wstring textIni = Folder() + L"text.ini";
  for (const KnownLanguage& lang : KnownLanguages()) {
    LanguageManager m;
    m.Init(Folder(), std::to_wstring(lang.uiLanguageId));
    ASSERT_EQ(m.GetLanguage(), lang.name);
    EXPECT_EQ(m.IsRightToLeft(), IsRightToLeftLanguage(lang.name));
    // Every language ships its own section; the manager shows its texts, not English.
    IniSection section;
    ReadIniSection(textIni, lang.name, section);
    ASSERT_EQ(section.size(), DefaultStringKeys().size()) << lang.uiLanguageId;
    for (const std::wstring& key : DefaultStringKeys()) {
      const std::wstring text = m.GetText(key);
      const std::string where = std::to_string(lang.uiLanguageId) + " " + WideToUtf8(key);
      EXPECT_FALSE(text.empty()) << where;
      std::wstring expected = section[key];
      expected = ReplaceAll(expected, L"PRODUCT", m.GetProductName());
      expected = ReplaceAll(expected, L"COLOR", m.GetLicenceColor());
      expected = ReplaceAll(expected, L"BRAND", m.GetBrandName());
      EXPECT_EQ(text, expected) << where;
      for (const wchar_t* placeholder : {L"PRODUCT", L"COLOR", L"BRAND"}) {
        EXPECT_EQ(text.find(placeholder), std::wstring::npos)
            << "unfilled placeholder in " << where;
      }
    }
  }
  EXPECT_NE(kvtest::ReadFile(LogFilePath()).find("Language Code:1025"), std::string::npos);
}

TEST_F(EmbeddedBrand, EnglishMatchesTheBuiltInTable) {
  ASSERT_TRUE(LoadResZipFile(Folder()));
  IniSection english;
  ReadIniSection(Folder() + L"text.ini", L"English", english);
  EXPECT_EQ(english, IniSection(DefaultStrings().begin(), DefaultStrings().end()));

  LanguageManager m;
  m.Init(Folder(), L"1033");
  ASSERT_FALSE(m.GetProductName().empty());
  EXPECT_EQ(m.GetText(L"STR_MESSAGEBOX_TITLE"), m.GetProductName() + L" Setup");
  EXPECT_EQ(m.GetText(L"STR_START"), L"Start\u00A0Now");
  EXPECT_EQ(m.GetText(L"STR_LISENCE"), L"I've read and agreed to {c " + m.GetLicenceColor() + L"}" +
                                           m.GetBrandName() + L" License Agreement{/c}");
}

TEST_F(EmbeddedBrand, DomainCodeAndUrlsOfTheRealResources) {
  ASSERT_TRUE(LoadResZipFile(Folder()));
  LanguageManager m;
  m.Init(Folder(), L"1033");
  EXPECT_EQ(m.GetCustom(), L"");
  ASSERT_TRUE(LoadDomainFile(m));
  std::string raw = RawResource(platform::kResIdDomain);
  EXPECT_EQ(raw, kvtest::ReadFile(kBrandDir / "domain.txt"));
  EXPECT_EQ(m.GetCustom(), DomainTextToCustom(raw));
  EXPECT_EQ(m.GetCustom().find(L'\r'), std::wstring::npos);
  EXPECT_NE(kvtest::ReadFile(LogFilePath()).find("Domain:" + raw), std::string::npos);

  const std::wstring tail =
      L"&pid=" + m.GetProductValue(L"STR_PID") + L"&lang=English&custom=" + m.GetCustom();
  std::wstring licence = m.GetLicenceUrl();
  ASSERT_GT(licence.size(), tail.size());
  EXPECT_EQ(licence.substr(licence.size() - tail.size()), tail);
  EXPECT_NE(licence.find(L"key=license_agreement"), std::wstring::npos);
  EXPECT_NE(m.GetInstallUrl().find(L"key=installed"), std::wstring::npos);
  EXPECT_EQ(m.GetDownloadUrl().find(L"&pid="), std::wstring::npos);
  EXPECT_EQ(m.GetDownloadUrl().rfind(L"http", 0), 0u);
}

// The demo brand's string table as shipped: every language in its place, every section with
// the program's keys in the program's order, and short enough to read at a glance.
TEST(ShippedTextTable, SectionsAndKeysInTheirOrder) {
  const std::vector<std::wstring> order = {
      L"Arabic",      L"Chinese",    L"ChineseTW", L"Dutch",    L"English",    L"French",
      L"German",      L"Indonesian", L"Italian",   L"Japanese", L"Korean",     L"Malaysian",
      L"Polish",      L"Portuguese", L"Russian",   L"Spanish",  L"Swedish",    L"Thai",
      L"Norwegian",   L"Danish",     L"Irish",     L"Czech",    L"Vietnamese", L"Finnish",
      L"Greek",       L"Slovak",     L"Hebrew",    L"Turkey",   L"Romanian",   L"Hungarian",
      L"Bulgarian",   L"Croatian",   L"Kazakh",    L"Serbian",  L"Slovenian",  L"Lithuanian",
      L"Azerbaijani", L"Georgian",   L"Latvian",   L"Estonian", L"Icelandic"};
  auto scanned = brandcheck::ScanFile(kvtest::SourceDir() / "data" / "text.ini",
                                      brandcheck::Encoding::kUtf16Le);
  ASSERT_TRUE(scanned);
  EXPECT_TRUE(scanned->encodingErrors.empty());
  std::vector<std::wstring> names;
  for (const brandcheck::ScannedSection& section : scanned->sections) {
    names.push_back(section.name);
    std::vector<std::wstring> keys;
    std::size_t chars = 0;
    for (const brandcheck::ScannedEntry& e : section.entries) {
      keys.push_back(e.key);
      chars += e.key.size() + 1 + e.value.size();
    }
    EXPECT_EQ(keys, DefaultStringKeys()) << WideToUtf8(section.name);
    // Far below what the program reads of a section, leaving room for a publisher's longer texts.
    EXPECT_LE(chars, 1500u) << WideToUtf8(section.name);
  }
  EXPECT_EQ(names, order);
}

// The failure message names the abort, retry and ignore buttons; each label must stand there as
// a whole word (quoted, or between blanks and punctuation), not as a fragment of a longer one.
TEST(ShippedTextTable, ButtonLabelsAreWholeWordsOfTheFailureMessage) {
  const std::wstring before = L" \u00AB\u201E\u201C\u2018'[\u300C";   // « „ “ ‘ ' [ 「
  const std::wstring after = L" ,.\u00BB\u201C\u201D\u2019']\u300D";  // » “ ” ’ ' ] 」
  auto scanned = brandcheck::ScanFile(kvtest::SourceDir() / "data" / "text.ini",
                                      brandcheck::Encoding::kUtf16Le);
  ASSERT_TRUE(scanned);
  ASSERT_EQ(scanned->sections.size(), KnownLanguages().size());
  for (const brandcheck::ScannedSection& section : scanned->sections) {
    IniSection values;
    for (const brandcheck::ScannedEntry& e : section.entries) values[e.key] = e.value;
    const std::wstring tip = values[L"STR_OPERATE_TIP"];
    for (const wchar_t* key : {L"STR_BUTTON_ABORT", L"STR_BUTTON_RETRY", L"STR_BUTTON_IGNORE"}) {
      const std::wstring label = values[key];
      ASSERT_FALSE(label.empty()) << WideToUtf8(section.name) << " " << WideToUtf8(key);
      bool whole = false;
      for (std::size_t at = tip.find(label); at != std::wstring::npos && !whole;
           at = tip.find(label, at + 1)) {
        const std::size_t end = at + label.size();
        whole = (at == 0 || before.find(tip[at - 1]) != std::wstring::npos) &&
                (end == tip.size() || after.find(tip[end]) != std::wstring::npos);
      }
      EXPECT_TRUE(whole) << WideToUtf8(section.name) << " " << WideToUtf8(key) << " \""
                         << WideToUtf8(label) << "\" in: " << WideToUtf8(tip);
    }
  }
}

TEST(EmbeddedBrandBuild, ExecutableCarriesTheBrandVersionRecord) {
  EXPECT_EQ(GetFileVersion(GetModulePath()), Utf8ToWide(KV_TEST_BRAND_VERSION));
  EXPECT_EQ(GetFileDescription(GetModulePath()), Utf8ToWide(KV_TEST_BRAND_DESCRIPTION));
}

TEST(DomainTextToCustom, LineEndsAndLimits) {
  EXPECT_EQ(DomainTextToCustom("com_ru\r\n"), L"com_ru");
  EXPECT_EQ(DomainTextToCustom("co\r\nm"), L"com");
  EXPECT_EQ(DomainTextToCustom("co\nm\r"), L"co\nm\r");
  EXPECT_EQ(DomainTextToCustom(""), L"");
  EXPECT_EQ(DomainTextToCustom(std::string("ab\0cd", 5)), L"ab");
  EXPECT_EQ(DomainTextToCustom(std::string(300, 'x')), std::wstring(254, L'x'));
}

}  // namespace
