#include "config/BrandCheck.h"

// What the test itself uses.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "config/Ini.h"
#include "platform/profile/Profile.h"
#include "tests/config/ConfigFixtures.h"
#include "tests/support/TestSupport.h"

namespace {

namespace fs = std::filesystem;

const fs::path kBrandDir = KV_TEST_BRAND_DIR;

// A copy of the built brand whose files a test breaks one at a time.
class BrandCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name :
         {"language.ini", "productInfo.ini", "text.ini", "url.ini", "domain.txt", "brand.cmake"}) {
      fs::copy_file(kBrandDir / name, dir / name);
    }
  }
  // The UTF-16 file as text with LF line ends.
  std::wstring Text(const std::string& name) {
    std::wstring t = platform::DecodeProfileText(kvtest::ReadFile(dir / name));
    t.erase(std::remove(t.begin(), t.end(), L'\r'), t.end());
    return t;
  }
  // Replaces the first `what` after the header of `section` (or from the start).
  void Replace(const std::string& name, const std::wstring& what, const std::wstring& with,
               const std::wstring& section = L"") {
    std::wstring t = Text(name);
    std::size_t from = section.empty() ? 0 : t.find(L"[" + section + L"]");
    ASSERT_NE(from, std::wstring::npos) << section;
    std::size_t at = t.find(what, from);
    ASSERT_NE(at, std::wstring::npos) << name;
    t.replace(at, what.size(), with);
    kvtest::WriteFile(dir / name, configtest::Utf16File(t));
  }
  std::vector<std::string> Problems() {
    std::vector<std::string> out;
    for (const BrandProblem& p : CheckBrandFolder(dir.path())) out.push_back(FormatBrandProblem(p));
    return out;
  }
  // The English text of a key in text.ini, taken from the file itself.
  std::wstring Line(const std::wstring& section, const std::wstring& key) {
    IniSections s = ParseIniText(Text("text.ini"));
    return key + L"=" + s[section][key];
  }

  kvtest::TempDir dir;
};

TEST_F(BrandCheckTest, TheBuiltBrandHasNoProblems) {
  EXPECT_EQ(Problems(), std::vector<std::string>{});
}

TEST_F(BrandCheckTest, TextIniKeysPlaceholdersAndMarkup) {
  Replace("text.ini", Line(L"French", L"STR_MB") + L"\n", L"STR_TYPO=x\n", L"French");
  Replace("text.ini", Line(L"German", L"STR_MESSAGEBOX_TITLE"), L"STR_MESSAGEBOX_TITLE=Einrichtung",
          L"German");
  Replace("text.ini", Line(L"Dutch", L"STR_LISENCE"),
          L"STR_LISENCE=Ik ga akkoord met {c COLOR}BRAND{c COLOR} licentie", L"Dutch");
  Replace("text.ini", Line(L"Italian", L"STR_HIDE"), L"STR_HIDE=", L"Italian");
  EXPECT_EQ(Problems(),
            (std::vector<std::string>{
                "text.ini: [Dutch] STR_LISENCE: holds COLOR 2 times, English 1",
                "text.ini: [Dutch] STR_LISENCE: holds {c  2 times, English 1",
                "text.ini: [Dutch] STR_LISENCE: holds {/c} 0 times, English 1",
                "text.ini: [Dutch] STR_LISENCE: colour markup is not balanced",
                "text.ini: [French] STR_MB: key is missing",
                "text.ini: [French] STR_TYPO: not a key the program shows",
                "text.ini: [German] STR_MESSAGEBOX_TITLE: holds PRODUCT 0 times, English 1",
                "text.ini: [Italian] STR_HIDE: text is empty",
            }));
}

TEST_F(BrandCheckTest, ButtonLabelsAgreeWithTheFailureMessageAndDiffer) {
  // Labels the message does not use, a yes/no box with two equal buttons, and a missing label
  // (reported as missing, nothing more).
  Replace("text.ini", Line(L"German", L"STR_BUTTON_RETRY"), L"STR_BUTTON_RETRY=Erneut versuchen",
          L"German");
  Replace("text.ini", Line(L"Japanese", L"STR_BUTTON_NO"),
          L"STR_BUTTON_NO=" + ParseIniText(Text("text.ini"))[L"Japanese"][L"STR_BUTTON_YES"],
          L"Japanese");
  Replace("text.ini", Line(L"Swedish", L"STR_BUTTON_IGNORE"), L"STR_BUTTON_IGNORE=Strunta i",
          L"Swedish");
  Replace("text.ini", Line(L"French", L"STR_BUTTON_ABORT") + L"\n", L"", L"French");
  // Swedish and German use one word for Abort and Cancel: never in the same box, so fine.
  EXPECT_EQ(Problems(),
            (std::vector<std::string>{
                "text.ini: [French] STR_BUTTON_ABORT: key is missing",
                "text.ini: [German] STR_OPERATE_TIP: does not name the STR_BUTTON_RETRY label "
                "\"Erneut versuchen\"",
                "text.ini: [Japanese] STR_BUTTON_NO: same label as STR_BUTTON_YES in one message "
                "box",
                "text.ini: [Swedish] STR_OPERATE_TIP: does not name the STR_BUTTON_IGNORE label "
                "\"Strunta i\"",
            }));
}

TEST_F(BrandCheckTest, TextIniSectionsDuplicatesAndSize) {
  Replace("text.ini", L"[Icelandic]", L"[Islandic]");
  Replace("text.ini", Line(L"Polish", L"STR_MB"),
          Line(L"Polish", L"STR_MB") + L"\n" + Line(L"Polish", L"STR_MB") + L"\nSTR_OOPS",
          L"Polish");
  Replace("text.ini", Line(L"Korean", L"STR_OPERATE_TIP"),
          Line(L"Korean", L"STR_OPERATE_TIP") + std::wstring(4000, L' ') + L".", L"Korean");
  auto problems = Problems();
  auto has = [&](const std::string& line) {
    return std::find(problems.begin(), problems.end(), line) != problems.end();
  };
  EXPECT_TRUE(has("text.ini: [Icelandic] section is missing"));
  EXPECT_TRUE(has("text.ini: [Islandic] not a language name of language.ini"));
  EXPECT_TRUE(has("text.ini: [Polish] STR_MB: key appears twice"));
  EXPECT_TRUE(has("text.ini: [Polish] STR_OOPS: line without \"=\""));
  // Inner blanks count: the program reads at most 4094 characters of a section.
  bool tooLong = std::any_of(problems.begin(), problems.end(), [](const std::string& p) {
    return p.rfind("text.ini: [Korean] section holds ", 0) == 0;
  });
  EXPECT_TRUE(tooLong);
}

TEST_F(BrandCheckTest, EncodingsAndLineEnds) {
  // UTF-8 instead of UTF-16, and LF line ends.
  kvtest::WriteFile(dir / "productInfo.ini", "[PRODUCT]\r\nSTR_PID=1\r\n");
  std::wstring urls = Text("url.ini");
  std::string lf = configtest::Utf16File(L"");
  for (wchar_t c : urls) {
    lf += static_cast<char>(c & 0xFF);
    lf += static_cast<char>((c >> 8) & 0xFF);
  }
  kvtest::WriteFile(dir / "url.ini", lf);
  kvtest::WriteFile(dir / "language.ini", "\xFF\xFE[Language]\r\n");
  kvtest::WriteFile(dir / "domain.txt", "com_ru\r\nsecond\r\n");
  auto problems = Problems();
  auto has = [&](const std::string& line) {
    return std::find(problems.begin(), problems.end(), line) != problems.end();
  };
  EXPECT_TRUE(has("language.ini: must be plain ASCII, found a UTF-16 byte-order mark"));
  EXPECT_TRUE(has("productInfo.ini: not UTF-16LE with a byte-order mark"));
  EXPECT_TRUE(has("url.ini: line 1 ends in LF without CR"));
  EXPECT_TRUE(has("domain.txt: must be one line (ending in CR LF)"));

  kvtest::WriteFile(dir / "domain.txt", "com&ru=1\r\n");
  problems = Problems();
  EXPECT_TRUE(has("domain.txt: may hold only letters, digits, \"_\", \"-\" and \".\""));
}

TEST_F(BrandCheckTest, ProductLanguageAndUrlValues) {
  Replace("productInfo.ini", L"STR_PID=", L"STR_PIDX=");
  Replace("productInfo.ini", L"STR_LISENCE_COLOR=", L"STR_LISENCE_COLOR=teal");
  Replace("productInfo.ini", L"STR_EXE_NAME=", L"STR_EXE_NAME=../");
  std::string lang = kvtest::ReadFile(dir / "language.ini");
  lang.replace(lang.find("1055=Turkey"), 11, "1055=Turkish");
  lang += "9999=Klingon\r\n";
  kvtest::WriteFile(dir / "language.ini", lang);
  std::wstring common = ParseIniText(Text("url.ini"))[L"CommonUrl"][L"STR_INSTALL_URL"];
  Replace("url.ini", L"STR_INSTALL_URL=" + common, L"STR_INSTALL_URL=");
  Replace("url.ini", L"\n[CommonUrl]\n",
          L"\n[Frnech]\nSTR_LICENCE_URL=www.example.com\n[CommonUrl]\n");
  EXPECT_EQ(Problems(),
            (std::vector<std::string>{
                "language.ini: [Language] 1055: names \"Turkish\", expected Turkey",
                "language.ini: [Language] 9999: not a language id the program knows",
                "productInfo.ini: [PRODUCT] STR_PID: key is missing",
                "productInfo.ini: [PRODUCT] STR_LISENCE_COLOR: must be #RRGGBB or #AARRGGBB",
                "productInfo.ini: [PRODUCT] STR_EXE_NAME: must be a single file or folder name",
                "url.ini: [CommonUrl] STR_INSTALL_URL: address is missing",
                "url.ini: [Frnech] not CommonUrl nor a language name; never read",
                "url.ini: [Frnech] STR_LICENCE_URL: must start with http:// or https://",
            }));
}

TEST_F(BrandCheckTest, BuildValues) {
  std::string cmake = kvtest::ReadFile(dir / "brand.cmake");
  auto set = [&](const std::string& name, const std::string& value) {
    std::size_t at = cmake.find("set(KV_BRAND_" + name);
    ASSERT_NE(at, std::string::npos) << name;
    std::size_t q1 = cmake.find('"', at), q2 = cmake.find('"', q1 + 1);
    cmake.replace(q1 + 1, q2 - q1 - 1, value);
  };
  set("FILE_VERSION", "1.0");
  set("CAROUSEL_HOST", "https://api.example.com/");
  set("DEFAULT_BRAND_NAME", "");
  kvtest::WriteFile(dir / "brand.cmake", cmake);
  EXPECT_EQ(Problems(),
            (std::vector<std::string>{
                "brand.cmake: KV_BRAND_DEFAULT_BRAND_NAME: is not set",
                "brand.cmake: KV_BRAND_FILE_VERSION: must be four numbers like 1.0.0.1",
                "brand.cmake: KV_BRAND_CAROUSEL_HOST: must be a host name with an optional port, "
                "no scheme or path",
            }));
  fs::remove(dir / "brand.cmake");
  EXPECT_EQ(Problems(), std::vector<std::string>{"brand.cmake: file is missing or unreadable"});
}

}  // namespace
