#include "ui/core/ValueFormats.h"

#include <gtest/gtest.h>

namespace SkinUI {
namespace {

TEST(ValueFormatsTest, ColoursStopAtTheFirstNonHexCharacter) {
  EXPECT_EQ(ParseColor(L"#FF0EB1A8;"), 0xFF0EB1A8u);
  EXPECT_EQ(ParseColor(L"FF2ADACC"), 0xFF2ADACCu);
  EXPECT_EQ(ParseColor(L"#00FFFFFF"), 0x00FFFFFFu);
  EXPECT_EQ(ParseColor(L"#ff14dfd3"), 0xFF14DFD3u);
  EXPECT_EQ(ParseColor(L"#2FFFF3"), 0x002FFFF3u);
  EXPECT_EQ(ParseColor(L"#FF04A68Dzz"), 0xFF04A68Du);
  // More than eight digits: the first eight count.
  EXPECT_EQ(ParseColor(L"FF04A68D99"), 0xFF04A68Du);
  EXPECT_EQ(ParseColor(L"red"), 0u);
  EXPECT_EQ(ParseColor(L""), 0u);
  EXPECT_TRUE(IsColorText(L"#F"));
  EXPECT_FALSE(IsColorText(L"#g"));
}

TEST(ValueFormatsTest, NumbersRectanglesSizesBooleansAlignment) {
  EXPECT_EQ(ParseRect(L"10,250,640,270"), (UiRect{10, 250, 640, 270}));
  EXPECT_EQ(ParseRect(L" 1, 2 ,3"), (UiRect{1, 2, 3, 0}));
  EXPECT_EQ(ParseRect(L"-5,0,x,7"), (UiRect{-5, 0, 0, 7}));
  UiSize s = ParseSize(L"650,360");
  EXPECT_EQ(s.cx, 650);
  EXPECT_EQ(s.cy, 360);
  EXPECT_EQ(ParseInt(L"abc", 7), 7);
  EXPECT_EQ(ParseInt(L"99999999999999"), 1000000000);  // capped, never overflows
  EXPECT_TRUE(ParseBool(L"true"));
  EXPECT_TRUE(ParseBool(L"TRUE"));
  EXPECT_FALSE(ParseBool(L"1"));
  EXPECT_FALSE(ParseBool(L"false"));
  EXPECT_EQ(ParseAlign(L"right"), TextAlign::kRight);
  EXPECT_EQ(ParseAlign(L"center"), TextAlign::kCenter);
  EXPECT_EQ(ParseAlign(L"bogus", TextAlign::kCenter), TextAlign::kCenter);
}

TEST(ValueFormatsTest, ImageDescriptors) {
  ImageDescriptor d = ParseImageDescriptor(L"file='img/checked.png' dest='0,8,14,22'");
  EXPECT_EQ(d.file, L"img/checked.png");
  ASSERT_TRUE(d.dest.has_value());
  EXPECT_EQ(*d.dest, (UiRect{0, 8, 14, 22}));
  EXPECT_FALSE(d.source.has_value());

  d = ParseImageDescriptor(
      L"file='a.png' source='1,2,3,4' corner='5,5,5,5' mask='#FF00FF' fade='128' hole='true' "
      L"xtiled='true' hsl='false'");
  EXPECT_EQ(*d.source, (UiRect{1, 2, 3, 4}));
  EXPECT_EQ(d.corner, (UiRect{5, 5, 5, 5}));
  EXPECT_EQ(*d.mask, 0xFF00FFu);
  EXPECT_EQ(d.fade, 128);
  EXPECT_TRUE(d.hole);
  EXPECT_TRUE(d.xtiled);
  EXPECT_FALSE(d.ytiled);

  d = ParseImageDescriptor(L"scale9='1,1,1,1' res='logo' restype='PNG' fade='999'");
  EXPECT_EQ(d.corner, (UiRect{1, 1, 1, 1}));
  EXPECT_EQ(d.Name(), L"logo");
  EXPECT_EQ(d.fade, 255);

  d = ParseImageDescriptor(L"color='#FF112233' dest='0,0,4,4'");
  EXPECT_TRUE(d.file.empty());
  EXPECT_EQ(*d.color, 0xFF112233u);
  EXPECT_FALSE(d.IsEmpty());

  // Without key='value' pairs the whole value is the file name, even with blanks or "\".
  d = ParseImageDescriptor(L"img\\logo.png");
  EXPECT_EQ(d.file, L"img\\logo.png");
  d = ParseImageDescriptor(L"/tmp/language/Banner one.png");
  EXPECT_EQ(d.file, L"/tmp/language/Banner one.png");
  EXPECT_TRUE(ParseImageDescriptor(L"").IsEmpty());
}

}  // namespace
}  // namespace SkinUI
