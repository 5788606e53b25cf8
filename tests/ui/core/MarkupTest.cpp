#include "ui/core/Markup.h"

#include <gtest/gtest.h>

namespace SkinUI {
namespace {

TEST(MarkupTest, ReadsAttributesWrittenWithoutBlanksBetweenThem) {
  MarkupResult r = ParseMarkup(
      "<?xml version=\"1.0\"?>\n<!-- a skin -->\n<Window size=\"650,360\">"
      "<Button name=\"btn_start\" textcolor=\"#00FFFFFF\"disabledtextcolor=\"#00FFFFFF\"align="
      "\"center\" normalimage=\"a.png\"hotimage=\"b.png\"/></Window>");
  ASSERT_TRUE(r.ok) << r.error;
  ASSERT_EQ(r.root.children.size(), 1u);
  const CMarkupNode& b = r.root.children[0];
  EXPECT_EQ(b.name, L"Button");
  EXPECT_EQ(b.GetAttribute(L"disabledtextcolor"), L"#00FFFFFF");
  EXPECT_EQ(b.GetAttribute(L"align"), L"center");
  EXPECT_EQ(b.GetAttribute(L"hotimage"), L"b.png");
  ASSERT_EQ(b.attributes.size(), 6u);
  EXPECT_EQ(b.attributes[1].first, L"textcolor");
}

TEST(MarkupTest, DecodesEntitiesAndKeepsUnknownOnes) {
  MarkupResult r = ParseMarkup(
      "<Window><Button text=\"Install &gt;&gt;\" a=\"&lt;&amp;&quot;&apos;&#65;&#x42;\" "
      "b=\"&nbsp; &\" c='single &lt;'/></Window>");
  ASSERT_TRUE(r.ok) << r.error;
  const CMarkupNode& b = r.root.children[0];
  EXPECT_EQ(b.GetAttribute(L"text"), L"Install >>");
  EXPECT_EQ(b.GetAttribute(L"a"), L"<&\"'AB");
  EXPECT_EQ(b.GetAttribute(L"b"), L"&nbsp; &");
  EXPECT_EQ(b.GetAttribute(L"c"), L"single <");
}

TEST(MarkupTest, NestsChildrenAndReadsNonAsciiText) {
  MarkupResult r = ParseMarkup(
      "\xEF\xBB\xBF<Window>\n  <VerticalLayout>\n    <Label text=\"\xE5\xAE\x89\xE8\xA3\x85\"/>"
      "\n    <Include source=\"home.xml\"></Include>\n  </VerticalLayout>\n</Window>\n");
  ASSERT_TRUE(r.ok) << r.error;
  const CMarkupNode& v = r.root.children.at(0);
  ASSERT_EQ(v.children.size(), 2u);
  EXPECT_EQ(v.children[0].GetAttribute(L"text"), L"\u5B89\u88C5");
  EXPECT_EQ(v.children[0].line, 3);
  EXPECT_EQ(v.children[1].GetAttribute(L"source"), L"home.xml");
  EXPECT_EQ(v.children[0].FindAttribute(L"missing"), nullptr);
}

TEST(MarkupTest, ReadsUtf16WithByteOrderMark) {
  std::string bytes = "\xFF\xFE";
  for (char c : std::string("<Window size=\"1,2\"/>")) {
    bytes += c;
    bytes += '\0';
  }
  MarkupResult r = ParseMarkup(bytes);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.root.GetAttribute(L"size"), L"1,2");
}

TEST(MarkupTest, ErrorsNameTheLineAndElement) {
  struct Case {
    const char* text;
    const char* expect;
  } cases[] = {
      {"<Window>\n<Button name=\"a\">\n</Window>", "line 3"},
      {"<Window>\n<Button name=\"a />\n</Window>", "unterminated value of name in <Button>"},
      {"<Window><Button name/></Window>", "expected '=' after name in <Button>"},
      {"<Window><Button name=a/></Window>", "quoted value"},
      {"<Window/><Window/>", "more than one root"},
      {"", "no root element"},
      {"<Window>", "missing </Window>"},
      {"<Window><!-- open </Window>", "unterminated comment"},
  };
  // Deep nesting fails as an error instead of exhausting the stack.
  std::string deep;
  for (int i = 0; i < 100000; ++i) deep += "<a>";
  MarkupResult nested = ParseMarkup(deep);
  EXPECT_FALSE(nested.ok);
  EXPECT_NE(nested.error.find("nested too deeply"), std::string::npos) << nested.error;
  std::string fine = "<Window>";
  for (int i = 0; i < 200; ++i) fine += "<a>";
  for (int i = 0; i < 200; ++i) fine += "</a>";
  EXPECT_TRUE(ParseMarkup(fine + "</Window>").ok);
  for (const Case& c : cases) {
    MarkupResult r = ParseMarkup(c.text);
    EXPECT_FALSE(r.ok) << c.text;
    EXPECT_NE(r.error.find(c.expect), std::string::npos) << c.text << " -> " << r.error;
  }
}

}  // namespace
}  // namespace SkinUI
