#include "config/Ini.h"

// What the test itself uses.
#include <gtest/gtest.h>

#include "tests/config/ConfigFixtures.h"
#include "tests/support/TestSupport.h"

namespace {

TEST(ParseIniText, SectionsCommentsBlanksAndDuplicates) {
  IniSections s = ParseIniText(
      L"orphan = before any section\r\n"
      L"; comment=not a key\r\n"
      L"   ;indented comment=also not\r\n"
      L"\r\n"
      L"[CommonUrl]\r\n"
      L"  STR_A =  http://h/p?key=x  \r\n"
      L"no equals sign here\r\n"
      L"STR_A=later wins\r\n"
      L"STR_B=a=b\r\n"
      L"[Open section without bracket\r\n"
      L"k=v\r\n"
      L"[ Spaced ]\r\n"
      L"k2=v2\r\n"
      L"[Empty]\r\n"
      L"[Last]\r\n"
      L"tail=no line end");
  EXPECT_EQ(s[L""], (IniSection{{L"orphan", L"before any section"}}));
  EXPECT_EQ(s[L"CommonUrl"], (IniSection{{L"STR_A", L"later wins"}, {L"STR_B", L"a=b"}}));
  EXPECT_EQ(s[L"Open section without bracket"], (IniSection{{L"k", L"v"}}));
  // The name between the brackets is taken as written.
  EXPECT_EQ(s[L" Spaced "], (IniSection{{L"k2", L"v2"}}));
  EXPECT_TRUE(s.count(L"Empty"));
  EXPECT_EQ(s[L"Last"], (IniSection{{L"tail", L"no line end"}}));
  EXPECT_EQ(s.size(), 6u);
}

TEST(ParseIniText, EmptyAndBlankTextGiveNoSections) {
  EXPECT_TRUE(ParseIniText(L"").empty());
  EXPECT_TRUE(ParseIniText(L"\n\n  \t\r\n;x\n").empty());
}

TEST(ReplaceAll, ReplacesEveryOccurrenceWithoutRescanningInsertedText) {
  EXPECT_EQ(ReplaceAll(L"PRODUCT and PRODUCT", L"PRODUCT", L"Acme"), L"Acme and Acme");
  // The inserted text contains the pattern: it must not be replaced again (or loop forever).
  EXPECT_EQ(ReplaceAll(L"xPRODUCTx", L"PRODUCT", L"PRODUCT PRODUCT"), L"xPRODUCT PRODUCTx");
  EXPECT_EQ(ReplaceAll(L"aaa", L"aa", L"b"), L"ba");
  EXPECT_EQ(ReplaceAll(L"none here", L"BRAND", L"x"), L"none here");
  EXPECT_EQ(ReplaceAll(L"abc", L"", L"x"), L"abc");
  EXPECT_EQ(ReplaceAll(L"a\r\nb\nc\r", L"\r\n", L""), L"ab\nc\r");
}

TEST(ReadIni, ValueAndSectionFromUtf16File) {
  kvtest::TempDir dir;
  auto file = dir / "p.ini";
  std::wstring longValue(300, L'v');
  kvtest::WriteFile(file, configtest::Utf16File(L"[PRODUCT]\n"
                                                L"STR_PID=1102\n"
                                                L"STR_LONG=" +
                                                longValue +
                                                L"\n"
                                                L"flag\n"
                                                L"STR_EQ=a=b\n"));
  EXPECT_EQ(ReadIniValue(file.wstring(), L"product", L"str_pid"), L"1102");
  EXPECT_EQ(ReadIniValue(file.wstring(), L"PRODUCT", L"STR_LONG"), std::wstring(255, L'v'));
  EXPECT_EQ(ReadIniValue(file.wstring(), L"PRODUCT", L"missing"), L"");
  EXPECT_EQ(ReadIniValue((dir / "none.ini").wstring(), L"PRODUCT", L"STR_PID"), L"");

  IniSection table{{L"STR_PID", L"old"}, {L"kept", L"yes"}};
  EXPECT_TRUE(ReadIniSection(file.wstring(), L"PRODUCT", table));
  EXPECT_EQ(table[L"STR_PID"], L"1102");
  EXPECT_EQ(table[L"STR_LONG"], longValue);  // the section buffer holds the whole value
  EXPECT_EQ(table[L"flag"], L"");
  EXPECT_EQ(table[L"STR_EQ"], L"a=b");
  EXPECT_EQ(table[L"kept"], L"yes");
  EXPECT_EQ(table.size(), 5u);
}

TEST(ReadIni, SectionLongerThanTheBufferIsCut) {
  kvtest::TempDir dir;
  auto file = dir / "t.ini";
  std::wstring text = L"[S]\n";
  // 50 lines of "Knn=" + 96 characters: 101 characters each with its zero, 5050 in all.
  for (int i = 0; i < 50; ++i) {
    wchar_t key[8];
    swprintf(key, 8, L"K%02d", i);
    text += std::wstring(key) + L"=" + std::wstring(96, L'x') + L"\n";
  }
  kvtest::WriteFile(file, configtest::Utf16File(text));
  IniSection table;
  ReadIniSection(file.wstring(), L"S", table);
  // 40 whole lines fit 4040 characters; the 41st is cut to the 54 left of 4094.
  ASSERT_EQ(table.size(), 41u);
  EXPECT_EQ(table[L"K39"].size(), 96u);
  EXPECT_EQ(table[L"K40"].size(), 54u - 4u);
  EXPECT_FALSE(table.count(L"K41"));
}

}  // namespace
