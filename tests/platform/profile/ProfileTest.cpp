#include "platform/profile/Profile.h"

// What the test itself uses.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/TestSupport.h"

namespace {

// UTF-16LE with a byte-order mark, the way the language package stores its files.
std::string Utf16File(const std::wstring& text) {
  std::string out = "\xFF\xFE";
  for (wchar_t wc : text) {
    auto push = [&](std::uint32_t u) {
      out += static_cast<char>(u & 0xFF);
      out += static_cast<char>(u >> 8);
    };
    auto c = static_cast<std::uint32_t>(wc);
    if (c >= 0x10000) {
      push(0xD800 + ((c - 0x10000) >> 10));
      push(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      push(c);
    }
  }
  return out;
}

std::wstring W(const std::filesystem::path& p) {
  return p.wstring();
}

class ProfileFiles : public ::testing::Test {
 protected:
  kvtest::TempDir dir;
};

TEST_F(ProfileFiles, Utf16FileWithNonLatinTextIsReadByCaseInsensitiveNames) {
  auto file = dir / "text.ini";
  kvtest::WriteFile(file, Utf16File(L"[English]\r\nSTR_START=Start\u00A0Now\r\n"
                                    L"[Chinese]\r\nSTR_INSTALL = \u5B89\u88C5 \r\n"
                                    L"STR_EMOJI=\U0001F600\r\n"));
  EXPECT_EQ(platform::ReadProfileString(W(file), L"english", L"str_start", L"", 256),
            L"Start\u00A0Now");
  EXPECT_EQ(platform::ReadProfileString(W(file), L"CHINESE", L"Str_Install", L"", 256),
            L"\u5B89\u88C5");
  // A character outside the basic plane arrives as one wide character, not two halves.
  EXPECT_EQ(platform::ReadProfileString(W(file), L"Chinese", L"STR_EMOJI", L"", 256),
            L"\U0001F600");
  kvtest::WriteFile(dir / "names.ini",
                    Utf16File(L"[\u0420\u0423\u0421\u00C9]\r\n\u039A\u039B=v\r\n"));
  EXPECT_EQ(platform::ReadProfileString(W(dir / "names.ini"), L"\u0440\u0443\u0441\u00E9",
                                        L"\u03BA\u03BB", L"", 256),
            L"v");
  EXPECT_EQ(platform::ReadProfileSection(W(file), L"chinese", 4096),
            (std::vector<std::wstring>{L"STR_INSTALL=\u5B89\u88C5", L"STR_EMOJI=\U0001F600"}));
}

TEST_F(ProfileFiles, EightBitFilesAreUtf8WhenValidElseLatin1) {
  auto utf8 = dir / "utf8.ini";
  kvtest::WriteFile(utf8, "\xEF\xBB\xBF[Language]\r\n1049=\xD0\xA0\xD1\x83\xD1\x81\r\n");
  EXPECT_EQ(platform::ReadProfileString(W(utf8), L"Language", L"1049", L"", 256),
            L"\u0420\u0443\u0441");
  auto latin1 = dir / "latin1.ini";
  kvtest::WriteFile(latin1,
                    "[Language]\n1036=Fran\xE7"
                    "ais\n");
  EXPECT_EQ(platform::ReadProfileString(W(latin1), L"Language", L"1036", L"", 256),
            L"Fran\u00E7ais");
}

TEST_F(ProfileFiles, MissingFileSectionOrKeyGivesTheFallback) {
  auto file = dir / "a.ini";
  kvtest::WriteFile(file, "[S]\nk=v\nbare line\n");
  EXPECT_EQ(platform::ReadProfileString(W(dir / "none.ini"), L"S", L"k", L"dflt", 256), L"dflt");
  EXPECT_EQ(platform::ReadProfileString(W(file), L"T", L"k", L"dflt", 256), L"dflt");
  EXPECT_EQ(platform::ReadProfileString(W(file), L"S", L"x", L"", 256), L"");
  // A line without "=" is not a key that has a value.
  EXPECT_EQ(platform::ReadProfileString(W(file), L"S", L"bare line", L"none", 256), L"none");
  EXPECT_TRUE(platform::ReadProfileSection(W(dir / "none.ini"), L"S", 4096).empty());
  EXPECT_TRUE(platform::ReadProfileSection(W(file), L"T", 4096).empty());
}

TEST_F(ProfileFiles, CommentsBlanksQuotesAndDuplicates) {
  auto file = dir / "a.ini";
  kvtest::WriteFile(file,
                    "top=before any section\n"
                    "[S]\n"
                    "; a comment\n"
                    "\n"
                    "  spaced  =  value with  inner  blanks  \t\n"
                    "quoted=\"  kept  \"\n"
                    "half=\"open\n"
                    "k=first\n"
                    "K=second\n"
                    "bare line\n"
                    "eq=a=b\n"
                    "[s]\n"
                    "k=other section\n"
                    "later=x\n");
  EXPECT_EQ(platform::ReadProfileString(W(file), L"S", L"spaced", L"", 256),
            L"value with  inner  blanks");
  EXPECT_EQ(platform::ReadProfileString(W(file), L"S", L"quoted", L"", 256), L"  kept  ");
  EXPECT_EQ(platform::ReadProfileString(W(file), L"S", L"half", L"", 256), L"\"open");
  // The first key and the first section of a name win.
  EXPECT_EQ(platform::ReadProfileString(W(file), L"S", L"k", L"", 256), L"first");
  EXPECT_EQ(platform::ReadProfileString(W(file), L"S", L"later", L"none", 256), L"none");
  EXPECT_EQ(platform::ReadProfileString(W(file), L"S", L"eq", L"", 256), L"a=b");
  EXPECT_EQ(platform::ReadProfileSection(W(file), L"s", 4096),
            (std::vector<std::wstring>{L"spaced=value with  inner  blanks", L"quoted=  kept  ",
                                       L"half=\"open", L"k=first", L"K=second", L"bare line",
                                       L"eq=a=b"}));
}

TEST_F(ProfileFiles, ResultsAreCutToTheBufferSize) {
  auto file = dir / "a.ini";
  std::string longValue(300, 'x');
  kvtest::WriteFile(file, "[S]\nlong=" + longValue + "\nab=cd\nef=gh\n");
  EXPECT_EQ(platform::ReadProfileString(W(file), L"S", L"long", L"", 256), std::wstring(255, L'x'));
  EXPECT_EQ(platform::ReadProfileString(W(file), L"S", L"ab", L"", 2), L"c");
  EXPECT_EQ(platform::ReadProfileString(W(file), L"S", L"ab", L"", 0), L"");
  EXPECT_EQ(platform::ReadProfileString(W(file), L"S", L"none", L"fallback", 4), L"fal");

  // Lines with their zeros: "long=x..." 306, "ab=cd" 6, "ef=gh" 6, plus the list's final zero.
  auto all = platform::ReadProfileSection(W(file), L"S", 306 + 6 + 6 + 1);
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[2], L"ef=gh");
  auto cut = platform::ReadProfileSection(W(file), L"S", 306 + 6 + 6);
  ASSERT_EQ(cut.size(), 3u);
  EXPECT_EQ(cut[2], L"ef=g");
  auto dropped = platform::ReadProfileSection(W(file), L"S", 306 + 2);
  ASSERT_EQ(dropped.size(), 1u);
  EXPECT_EQ(dropped[0].size(), 305u);
  auto first = platform::ReadProfileSection(W(file), L"S", 100);
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(first[0], L"long=" + std::wstring(93, L'x'));
}

TEST_F(ProfileFiles, Utf16WithoutLineEndAtTheEndAndOddTrailingByte) {
  auto file = dir / "a.ini";
  kvtest::WriteFile(file, Utf16File(L"[S]\r\nk=\u05E2\u05D1") + "\x41");
  EXPECT_EQ(platform::ReadProfileString(W(file), L"S", L"k", L"", 256), L"\u05E2\u05D1");
}

}  // namespace

namespace {

// A file cut at any byte (a write interrupted, a disk full) reads as a shorter file: the value
// seen is always a prefix of the whole one and the reader never reads past the end.
TEST_F(ProfileFiles, FileCutAtEveryByteReadsAsAPrefix) {
  const std::wstring value = L"\u05E9\u05DC\u05D5\u05DD \U0001F600 end";
  const std::string whole = Utf16File(L"[S]\r\nk=" + value + L"\r\n");
  auto file = dir / "cut.ini";
  for (std::size_t n = 0; n <= whole.size(); ++n) {
    kvtest::WriteFile(file, whole.substr(0, n));
    std::wstring got = platform::ReadProfileString(W(file), L"S", L"k", L"", 256);
    std::wstring prefix = value.substr(0, got.size());
    // The last character may be a half-read surrogate pair, replaced by U+FFFD.
    if (!got.empty() && got.back() == 0xFFFD) got.back() = prefix.back();
    EXPECT_EQ(got, prefix) << "cut at " << n;
  }
}

}  // namespace
