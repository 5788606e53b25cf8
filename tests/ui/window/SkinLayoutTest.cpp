// clang-format off
#include "ui/window/SkinWindowBase.h"
// clang-format on

#include <gtest/gtest.h>

#include "tests/support/TestSupport.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/controls/Container.h"
#include "ui/controls/Option.h"
#include "ui/controls/Progress.h"
#include "ui/controls/TabLayout.h"
#include "ui/core/Utf.h"

namespace SkinUI {
namespace {

using uitest::RecordingWindow;

class SkinLayoutTest : public ::testing::Test {
 protected:
  void Open(const std::wstring& file) {
    // The package linked into this test, as the program embeds it.
    window_ = std::make_unique<RecordingWindow>(UILIB_ZIPRESOURCE, L"", file);
    ASSERT_TRUE(window_->Create(L"KVDownloader")) << window_->loadError;
    pm().EnsureLayout();
  }
  CPaintManagerUI& pm() { return window_->GetPaintManager(); }
  UiRect Pos(const wchar_t* name) {
    pm().EnsureLayout();
    CControlUI* c = pm().FindControl(name);
    EXPECT_NE(c, nullptr) << name;
    return c ? c->GetPos() : UiRect{};
  }

  uitest::HeadlessScope scope_;
  std::unique_ptr<RecordingWindow> window_;
};

TEST_F(SkinLayoutTest, HomePageRectangles) {
  Open(L"skin.xml");
  EXPECT_EQ(window_->initCalls, 1);
  EXPECT_EQ(window_->GetClientSize().cx, 650);
  EXPECT_EQ(window_->GetClientSize().cy, 360);
  EXPECT_EQ(pm().GetCaptionRect(), (UiRect{0, 0, 0, 290}));
  EXPECT_EQ(pm().GetSizeBox(), (UiRect{4, 4, 4, 4}));

  // Inside the 1-pixel frame: title bar 37, body, white line, custom row 46.
  EXPECT_EQ(Pos(L"lineLayout"), (UiRect{1, 312, 649, 313}));
  EXPECT_EQ(Pos(L"customLayout"), (UiRect{1, 313, 649, 359}));
  EXPECT_EQ(Pos(L"closebtn"), (UiRect{619, 12, 639, 32}));
  EXPECT_EQ(Pos(L"minbtn"), (UiRect{589, 12, 609, 32}));
  // Both big buttons share the row until the controller hides one; then it is centred.
  EXPECT_EQ(Pos(L"btn_install"), (UiRect{157, 185, 325, 231}));
  pm().FindControl(L"btn_start")->SetVisible(false);
  EXPECT_EQ(Pos(L"btn_install"), (UiRect{241, 185, 409, 231}));
  EXPECT_EQ(Pos(L"chk_agree"), (UiRect{21, 321, 41, 351}));
  EXPECT_EQ(Pos(L"btn_lisence"), (UiRect{41, 321, 429, 351}));
  EXPECT_EQ(Pos(L"chk_fold"), (UiRect{429, 321, 629, 351}));
}

TEST_F(SkinLayoutTest, CustomPanelUnfoldsBelowThePage) {
  Open(L"skin.xml");
  pm().FindControl(L"bottomLayout")->SetAttribute(L"visible", L"true");
  window_->ResizeClient(650, 435);
  EXPECT_EQ(Pos(L"switch"), (UiRect{1, 1, 649, 359}));
  EXPECT_EQ(Pos(L"bottomLayout"), (UiRect{1, 359, 649, 434}));
  EXPECT_EQ(Pos(L"label_path"), (UiRect{41, 381, 189, 413}));
  EXPECT_EQ(Pos(L"edit_path"), (UiRect{204, 381, 504, 413}));
  EXPECT_EQ(Pos(L"btn_browse"), (UiRect{519, 381, 609, 413}));
  EXPECT_EQ(Pos(L"customLayout"), (UiRect{1, 313, 649, 359}));
}

TEST_F(SkinLayoutTest, HugeSizesInASkinDoNotWrapAround) {
  kvtest::TempDir dir;
  kvtest::WriteFile(dir / "skin.xml",
                    "<Window size=\"100,50\"><HorizontalLayout childpadding=\"2000000000\">"
                    "<Control name=\"a\" width=\"2000000000\"/><Control name=\"b\" "
                    "width=\"2000000000\"/><Control name=\"c\" width=\"2000000000\"/>"
                    "<Control name=\"d\"/></HorizontalLayout></Window>");
  RecordingWindow w(UILIB_FILE, FromUtf8(dir.path().string()), L"skin.xml");
  ASSERT_TRUE(w.Create(L"x")) << w.loadError;
  w.GetPaintManager().EnsureLayout();
  int last = -1;
  for (const wchar_t* name : {L"a", L"b", L"c", L"d"}) {
    UiRect r = w.GetPaintManager().FindControl(name)->GetPos();
    EXPECT_GE(r.left, last) << name;
    EXPECT_GE(r.right, r.left) << name;
    last = r.left;
  }
}

TEST_F(SkinLayoutTest, TheClientAreaNeverShrinksBelowTheSkinSize) {
  Open(L"skin.xml");
  window_->ResizeClient(300, 500);
  EXPECT_EQ(window_->GetClientSize().cx, 650);
  EXPECT_EQ(window_->GetClientSize().cy, 500);
  window_->ResizeClient(700, 100);
  EXPECT_EQ(pm().GetClientSize().cx, 700);
  EXPECT_EQ(pm().GetClientSize().cy, 360);
}

TEST_F(SkinLayoutTest, BannerPageAndDots) {
  Open(L"skin.xml");
  auto* tab = dynamic_cast<CTabLayoutUI*>(pm().FindControl(L"switch"));
  ASSERT_NE(tab, nullptr);
  EXPECT_EQ(tab->GetCurSel(), 0);
  EXPECT_FALSE(pm().FindControl(L"banner")->IsVisibleInTree());
  ASSERT_TRUE(tab->SelectItem(1, Notification::kSilent));
  EXPECT_TRUE(pm().FindControl(L"banner")->IsVisibleInTree());
  EXPECT_FALSE(pm().FindControl(L"btn_install")->IsVisibleInTree());
  EXPECT_EQ(Pos(L"banner"), (UiRect{1, 1, 651, 291}));
  auto* bar = dynamic_cast<CProgressUI*>(pm().FindControl(L"progress_download"));
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(bar->GetPos(), (UiRect{51, 311, 484, 317}));
  EXPECT_EQ(bar->GetValue(), 30);
  EXPECT_EQ(bar->GetForeRect(), (UiRect{51, 311, 180, 317}));
  EXPECT_EQ(Pos(L"btn_hide"), (UiRect{509, 311, 599, 343}));

  // Three banners: the controller shows three dots; they sit centred over the banner.
  CControlUI* dots = pm().FindControl(L"buttonLayout");
  dots->SetVisible(true);
  for (int i = 3; i < 10; ++i) {
    std::wstring name = L"option_" + std::to_wstring(i);
    CControlUI* o = pm().FindSubControlByName(dots, name);
    ASSERT_NE(o, nullptr);
    o->SetVisible(false);
  }
  EXPECT_EQ(Pos(L"buttonLayout"), (UiRect{11, 251, 641, 271}));
  EXPECT_EQ(Pos(L"option_0"), (UiRect{306, 251, 314, 259}));
  EXPECT_EQ(Pos(L"option_1"), (UiRect{322, 251, 330, 259}));
  EXPECT_EQ(Pos(L"option_2"), (UiRect{338, 251, 346, 259}));
  // A float sits over the flow: the dot, not the banner, is under the point.
  EXPECT_EQ(pm().FindControlAt(UiPoint{310, 255}), pm().FindControl(L"option_0"));
}

TEST_F(SkinLayoutTest, FindByNameIsExactAndScoped) {
  Open(L"skin.xml");
  EXPECT_NE(pm().FindControl(L"switch"), nullptr);
  EXPECT_EQ(pm().FindControl(L"Switch"), nullptr);
  EXPECT_EQ(pm().FindControl(L"no_such_control"), nullptr);
  CControlUI* dots = pm().FindControl(L"buttonLayout");
  EXPECT_NE(pm().FindSubControlByName(dots, L"option_9"), nullptr);
  EXPECT_EQ(pm().FindSubControlByName(dots, L"btn_install"), nullptr);
  EXPECT_EQ(pm().FindSubControlByName(nullptr, L"option_9"), nullptr);
  // Entities in the skin are decoded.
  EXPECT_EQ(pm().FindControl(L"btn_install")->GetText(), L"Install >>");
}

TEST_F(SkinLayoutTest, RightToLeftSkinMirrorsTheRows) {
  Open(L"skin_rtl.xml");
  EXPECT_LT(Pos(L"closebtn").left, Pos(L"minbtn").left);
  EXPECT_LT(Pos(L"chk_fold").left, Pos(L"chk_agree").left);
  EXPECT_LT(Pos(L"chk_agree").left, Pos(L"btn_lisence").left);
  pm().FindControl(L"bottomLayout")->SetVisible(true);
  window_->ResizeClient(650, 435);
  EXPECT_LT(Pos(L"btn_browse").left, Pos(L"edit_path").left);
  EXPECT_LT(Pos(L"edit_path").left, Pos(L"label_path").left);
  EXPECT_EQ(Pos(L"edit_path").GetWidth(), 370);
  auto* tab = dynamic_cast<CTabLayoutUI*>(pm().FindControl(L"switch"));
  tab->SelectItem(1, Notification::kSilent);
  EXPECT_LT(Pos(L"btn_hide").left, Pos(L"progress_download").left);
  EXPECT_LT(Pos(L"label_progress").left, Pos(L"label_install").left);
  EXPECT_EQ(pm().FindControl(L"progress_download")->GetBkColor(), 0xFF0EB1A8u);
}

TEST_F(SkinLayoutTest, MissingSkinFileOrPackageReportsTheFailure) {
  window_ = std::make_unique<RecordingWindow>(UILIB_ZIPRESOURCE, L"", L"nothere.xml");
  EXPECT_FALSE(window_->Create(L"x"));
  EXPECT_NE(window_->loadError.find("nothere.xml"), std::string::npos) << window_->loadError;
  EXPECT_EQ(window_->initCalls, 0);
  RecordingWindow noFolder(UILIB_FILE, L"/nonexistent/skin", L"skin.xml");
  EXPECT_FALSE(noFolder.Create(L"x"));
  EXPECT_FALSE(noFolder.loadError.empty());
}

TEST_F(SkinLayoutTest, RepeatedIncludesCannotBlowUpTheTree) {
  kvtest::TempDir dir;
  kvtest::WriteFile(dir / "skin.xml",
                    "<Window size=\"10,10\"><VerticalLayout><Include source=\"a.xml\" "
                    "count=\"1000\"/></VerticalLayout></Window>");
  kvtest::WriteFile(dir / "a.xml", "<Window><Include source=\"b.xml\" count=\"1000\"/></Window>");
  kvtest::WriteFile(dir / "b.xml", "<Window><Control/></Window>");
  RecordingWindow bomb(UILIB_FILE, FromUtf8(dir.path().string()), L"skin.xml");
  EXPECT_FALSE(bomb.Create(L"x"));
  EXPECT_NE(bomb.loadError.find("too many controls"), std::string::npos) << bomb.loadError;
  // A modest repeat still builds.
  kvtest::WriteFile(dir / "a.xml", "<Window><Include source=\"b.xml\" count=\"10\"/></Window>");
  kvtest::WriteFile(dir / "skin.xml",
                    "<Window size=\"10,10\"><VerticalLayout name=\"root\"><Include "
                    "source=\"a.xml\" count=\"3\"/></VerticalLayout></Window>");
  RecordingWindow ok(UILIB_FILE, FromUtf8(dir.path().string()), L"skin.xml");
  ASSERT_TRUE(ok.Create(L"x")) << ok.loadError;
  auto* root = dynamic_cast<CContainerUI*>(ok.GetPaintManager().FindControl(L"root"));
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->GetCount(), 30);
}

}  // namespace
}  // namespace SkinUI
