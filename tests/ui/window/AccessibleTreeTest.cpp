#include "ui/window/AccessibleTree.h"

#include <gtest/gtest.h>

#include "tests/ui/UiTestSupport.h"
#include "ui/controls/Option.h"
#include "ui/controls/Progress.h"
#include "ui/controls/TabLayout.h"

namespace SkinUI {
namespace {

using uitest::RecordingWindow;

class AccessibleTreeTest : public ::testing::Test {
 protected:
  void Open(const wchar_t* file) {
    window_ = std::make_unique<RecordingWindow>(UILIB_ZIPRESOURCE, L"", file);
    ASSERT_TRUE(window_->Create(L"KVDownloader")) << window_->loadError;
  }
  CControlUI* Find(const wchar_t* name) { return window_->GetPaintManager().FindControl(name); }
  const AccessibleNode* Node(const std::vector<AccessibleNode>& nodes, const wchar_t* control) {
    for (const AccessibleNode& n : nodes) {
      if (n.id == reinterpret_cast<std::uintptr_t>(Find(control))) return &n;
    }
    return nullptr;
  }

  uitest::HeadlessScope scope_;
  std::unique_ptr<RecordingWindow> window_;
};

TEST_F(AccessibleTreeTest, ControlsWithoutTextOfTheirOwnAreStillNamed) {
  Open(L"skin.xml");
  Find(L"bottomLayout")->SetVisible(true);
  auto nodes = window_->host().AccessibleNodes();
  ASSERT_NE(Node(nodes, L"closebtn"), nullptr);
  EXPECT_EQ(Node(nodes, L"closebtn")->name, L"Close");
  EXPECT_EQ(Node(nodes, L"minbtn")->name, L"Minimize");
  // The agreement box takes the licence line beside it, its markup left out.
  const AccessibleNode* agree = Node(nodes, L"chk_agree");
  ASSERT_NE(agree, nullptr);
  EXPECT_EQ(agree->role, AccessibleRole::kCheckBox);
  EXPECT_EQ(agree->name, L"I've read and agreed to the Korvana License Agreement");
  EXPECT_EQ(Node(nodes, L"edit_path")->name, L"Installation Path:");
  EXPECT_EQ(Node(nodes, L"edit_path")->role, AccessibleRole::kEntry);
  // What is not on screen is not there: the banner page and its controls.
  EXPECT_EQ(Node(nodes, L"btn_hide"), nullptr);
  EXPECT_EQ(Node(nodes, L"progress_download"), nullptr);
  // An application's own name wins.
  Find(L"closebtn")->SetCustomAttribute(L"accessiblename", L"Schließen");
  EXPECT_EQ(Node(window_->host().AccessibleNodes(), L"closebtn")->name, L"Schließen");
}

TEST_F(AccessibleTreeTest, BannerDotsAreNumberedOptionsAndTheBarReportsProgressEitherWay) {
  for (const wchar_t* file : {L"skin.xml", L"skin_rtl.xml"}) {
    Open(file);
    dynamic_cast<CTabLayoutUI*>(Find(L"switch"))->SelectItem(1, Notification::kSilent);
    Find(L"buttonLayout")->SetVisible(true);
    for (int i = 3; i < 10; ++i) Find((L"option_" + std::to_wstring(i)).c_str())->SetVisible(false);
    bool rtl = std::wstring(file) == L"skin_rtl.xml";
    // The window's program sets the bar's value to the remaining share when mirrored.
    dynamic_cast<CProgressUI*>(Find(L"progress_download"))->SetValue(rtl ? 58 : 42);
    auto nodes = window_->host().AccessibleNodes();
    const AccessibleNode* bar = Node(nodes, L"progress_download");
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->role, AccessibleRole::kProgressBar);
    EXPECT_EQ(bar->value, 42) << rtl;
    const AccessibleNode* third = Node(nodes, L"option_2");
    ASSERT_NE(third, nullptr);
    EXPECT_EQ(third->role, AccessibleRole::kRadioButton);
    EXPECT_EQ(third->name, L"3");
    EXPECT_EQ(Node(nodes, L"option_3"), nullptr);
  }
}

TEST_F(AccessibleTreeTest, TheDefaultActionClicksAfterTheRequestHasBeenAnswered) {
  Open(L"skin.xml");
  auto nodes = window_->host().AccessibleNodes();
  const AccessibleNode* fold = Node(nodes, L"chk_fold");
  ASSERT_NE(fold, nullptr);
  EXPECT_EQ(fold->action, L"toggle");
  EXPECT_FALSE(fold->checked);
  window_->TakeEvents();
  ASSERT_TRUE(window_->host().AccessibleAction(fold->id));
  // Not while the screen reader's call is open: a handler may open a box.
  EXPECT_TRUE(window_->TakeEvents().empty());
  scope_.backend().RunPending();
  EXPECT_EQ(window_->TakeEvents(),
            (std::vector<std::wstring>{L"click:chk_fold", L"selectchanged:chk_fold"}));
  EXPECT_TRUE(Node(window_->host().AccessibleNodes(), L"chk_fold")->checked);
  // A disabled or vanished control does nothing.
  Find(L"btn_install")->SetEnabled(false);
  nodes = window_->host().AccessibleNodes();
  const AccessibleNode* install = Node(nodes, L"btn_install");
  ASSERT_NE(install, nullptr);
  EXPECT_FALSE(install->enabled);
  EXPECT_FALSE(window_->host().AccessibleAction(install->id));
  EXPECT_FALSE(window_->host().AccessibleAction(12345));
  // Focus asked for by the screen reader.
  const AccessibleNode* start = Node(nodes, L"btn_start");
  ASSERT_NE(start, nullptr);
  EXPECT_TRUE(window_->host().AccessibleFocus(start->id));
  EXPECT_TRUE(Node(window_->host().AccessibleNodes(), L"btn_start")->focused);
}

}  // namespace
}  // namespace SkinUI
