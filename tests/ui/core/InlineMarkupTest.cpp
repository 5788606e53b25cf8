#include "ui/core/InlineMarkup.h"

#include <gtest/gtest.h>

namespace SkinUI {
namespace {

TEST(InlineMarkupTest, ColourTagsNestAndReturnToThePreviousColour) {
  RichText t = ParseInlineMarkup(
      L"I've read and agreed to {c #2FFFF3}Lumen {c FF102030}x{/c} License Agreement{/c}.");
  ASSERT_EQ(t.runs.size(), 5u);
  EXPECT_EQ(t.runs[0].text, L"I've read and agreed to ");
  EXPECT_FALSE(t.runs[0].color.has_value());
  EXPECT_EQ(t.runs[1].text, L"Lumen ");
  EXPECT_EQ(*t.runs[1].color, 0x2FFFF3u);
  // A leading alpha byte is ignored.
  EXPECT_EQ(*t.runs[2].color, 0x102030u);
  EXPECT_EQ(*t.runs[3].color, 0x2FFFF3u);
  EXPECT_FALSE(t.runs[4].color.has_value());
  EXPECT_EQ(t.PlainText(), L"I've read and agreed to Lumen x License Agreement.");
}

TEST(InlineMarkupTest, LinksUnderlineBoldItalicLineBreaks) {
  RichText t = ParseInlineMarkup(
      L"read {u}{a https://x/licence}Korvana License{/a}{/u}{n}{b}bold{/b} {i}it{/i}");
  ASSERT_EQ(t.links.size(), 1u);
  EXPECT_EQ(t.links[0], L"https://x/licence");
  ASSERT_GE(t.runs.size(), 5u);
  EXPECT_EQ(t.runs[1].text, L"Korvana License");
  EXPECT_EQ(t.runs[1].link, 0);
  EXPECT_TRUE(t.runs[1].underline);
  EXPECT_EQ(t.PlainText(), L"read Korvana License\nbold it");
  bool sawBold = false, sawItalic = false;
  for (const RichRun& r : t.runs) {
    if (r.text == L"bold") sawBold = r.bold && !r.italic && r.link < 0;
    if (r.text == L"it") sawItalic = r.italic && !r.bold;
  }
  EXPECT_TRUE(sawBold);
  EXPECT_TRUE(sawItalic);
}

TEST(InlineMarkupTest, NotATagStaysText) {
  // A tag needs its letter right after the brace, then a blank or the closing brace.
  EXPECT_EQ(ParseInlineMarkup(L"{ c x} {cc} {z} {c #12").PlainText(), L"{ c x} {cc} {z} {c #12");
  EXPECT_EQ(ParseInlineMarkup(L"50% {/x} done").PlainText(), L"50%  done");
  EXPECT_EQ(ParseInlineMarkup(L"a {/c} b {/u}").PlainText(), L"a  b ");
  // Raw text keeps tags as written; angle brackets work like braces.
  EXPECT_EQ(ParseInlineMarkup(L"{r}{b}x{/b}{/r}<b>y</b>").PlainText(), L"{b}x{/b}y");
  RichText t = ParseInlineMarkup(L"<c #FF0000>red</c>");
  ASSERT_EQ(t.runs.size(), 1u);
  EXPECT_EQ(*t.runs[0].color, 0xFF0000u);
  // {p} starts a new line only when the current one holds text.
  EXPECT_EQ(ParseInlineMarkup(L"{p 4}a{/p}{p 4}b{/p}").PlainText(), L"a\nb\n");
}

}  // namespace
}  // namespace SkinUI
