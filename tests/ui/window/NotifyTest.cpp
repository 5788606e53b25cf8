// clang-format off
#include "ui/window/SkinWindowBase.h"
// clang-format on

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "tests/ui/UiTestSupport.h"
#include "ui/controls/Button.h"
#include "ui/controls/Edit.h"
#include "ui/controls/Option.h"
#include "ui/controls/TabLayout.h"

namespace SkinUI {
namespace {

using uitest::Centre;
using uitest::RecordingWindow;
using Events = std::vector<std::wstring>;

class NotifyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window_ = std::make_unique<RecordingWindow>(UILIB_ZIPRESOURCE, L"", L"skin.xml");
    ASSERT_TRUE(window_->Create(L"KVDownloader")) << window_->loadError;
    pm().EnsureLayout();
    window_->TakeEvents();
  }
  CPaintManagerUI& pm() { return window_->GetPaintManager(); }
  CHeadlessWindow& host() { return window_->host(); }
  template <typename T = CControlUI>
  T* Find(const wchar_t* name) {
    auto* c = dynamic_cast<T*>(pm().FindControl(name));
    EXPECT_NE(c, nullptr) << name;
    return c;
  }
  void ClickOn(const wchar_t* name) {
    pm().EnsureLayout();
    UiPoint p = Centre(Find(name));
    host().Click(p.x, p.y);
  }
  void ShowBannerDots() {
    Find<CTabLayoutUI>(L"switch")->SelectItem(1, Notification::kSilent);
    Find(L"buttonLayout")->SetVisible(true);
    pm().EnsureLayout();
    window_->TakeEvents();
  }

  uitest::HeadlessScope scope_;
  std::unique_ptr<RecordingWindow> window_;
};

TEST_F(NotifyTest, WindowInitComesOnceAfterTheFirstLayout) {
  RecordingWindow w(UILIB_ZIPRESOURCE, L"", L"skin.xml");
  ASSERT_TRUE(w.Create(L"x"));
  EXPECT_TRUE(w.TakeEvents().empty());
  w.GetPaintManager().EnsureLayout();
  EXPECT_EQ(w.TakeEvents(), Events({L"windowinit:"}));
  w.ResizeClient(650, 435);
  w.GetPaintManager().EnsureLayout();
  EXPECT_TRUE(w.TakeEvents().empty());
}

TEST_F(NotifyTest, CheckBoxClickThenSelectChanged) {
  auto* agree = Find<CCheckBoxUI>(L"chk_agree");
  EXPECT_FALSE(agree->GetCheck());
  ClickOn(L"chk_agree");
  EXPECT_EQ(window_->TakeEvents(),
            Events({L"setfocus:chk_agree", L"click:chk_agree", L"selectchanged:chk_agree"}));
  EXPECT_TRUE(agree->GetCheck());
  ClickOn(L"chk_agree");
  EXPECT_EQ(window_->TakeEvents(), Events({L"click:chk_agree", L"selectchanged:chk_agree"}));
  EXPECT_FALSE(agree->GetCheck());
  EXPECT_EQ(window_->clicksSeenByBase, 2);
}

TEST_F(NotifyTest, PressAndReleaseMustBothBeInside) {
  auto* fold = Find<CCheckBoxUI>(L"chk_fold");
  UiPoint p = Centre(fold);
  host().MouseMove(p.x, p.y);
  host().ButtonDown(p.x, p.y);
  EXPECT_TRUE(Find<CButtonUI>(L"chk_fold")->GetState() & kStatePushed);
  host().MouseMove(p.x - 300, p.y);
  EXPECT_FALSE(Find<CButtonUI>(L"chk_fold")->GetState() & kStatePushed);
  host().ButtonUp(p.x - 300, p.y);
  EXPECT_EQ(window_->TakeEvents(), Events({L"setfocus:chk_fold"}));
  EXPECT_FALSE(fold->GetCheck());
  // A press elsewhere released on the control does not click it either.
  host().ButtonDown(p.x - 300, p.y);
  host().ButtonUp(p.x, p.y);
  EXPECT_FALSE(fold->GetCheck());
}

TEST_F(NotifyTest, OptionGroupKeepsOneSelected) {
  ShowBannerDots();
  auto* o0 = Find<COptionUI>(L"option_0");
  auto* o1 = Find<COptionUI>(L"option_1");
  ClickOn(L"option_0");
  EXPECT_EQ(window_->TakeEvents(),
            Events({L"setfocus:option_0", L"click:option_0", L"selectchanged:option_0"}));
  ClickOn(L"option_1");
  EXPECT_EQ(window_->TakeEvents(),
            Events({L"killfocus:option_0", L"setfocus:option_1", L"click:option_1",
                    L"selectchanged:option_0", L"selectchanged:option_1"}));
  EXPECT_FALSE(o0->IsSelected());
  EXPECT_TRUE(o1->IsSelected());
  // Clicking the selected option changes nothing: a click, no selection change.
  ClickOn(L"option_1");
  EXPECT_EQ(window_->TakeEvents(), Events({L"click:option_1"}));
  EXPECT_TRUE(o1->IsSelected());
  EXPECT_EQ(pm().GetOptionGroup(L"bannerControlGroup").size(), 10u);
}

TEST_F(NotifyTest, SelectCallsNotifyOnlyWhenAskedAndOnRealChanges) {
  auto* fold = Find<CCheckBoxUI>(L"chk_fold");
  fold->Selected(true, Notification::kSilent);
  EXPECT_TRUE(window_->TakeEvents().empty());
  fold->Selected(true, Notification::kNotify);
  EXPECT_TRUE(window_->TakeEvents().empty());
  fold->Selected(false, Notification::kNotify);
  EXPECT_EQ(window_->TakeEvents(), Events({L"selectchanged:chk_fold"}));

  auto* o3 = Find<COptionUI>(L"option_3");
  auto* o4 = Find<COptionUI>(L"option_4");
  o3->Selected(true, Notification::kSilent);
  o4->Selected(true, Notification::kNotify);
  EXPECT_FALSE(o3->IsSelected());
  EXPECT_EQ(window_->TakeEvents(), Events({L"selectchanged:option_3", L"selectchanged:option_4"}));

  auto* tab = Find<CTabLayoutUI>(L"switch");
  tab->SelectItem(1, Notification::kNotify);
  ASSERT_EQ(window_->events.size(), 1u);
  EXPECT_EQ(window_->events[0].type, L"tabselect");
  EXPECT_EQ(window_->events[0].wParam, 1);
  EXPECT_EQ(window_->events[0].lParam, 0);
  window_->TakeEvents();
  tab->SelectItem(1, Notification::kNotify);
  tab->SelectItem(0, Notification::kSilent);
  EXPECT_TRUE(window_->TakeEvents().empty());
  EXPECT_FALSE(tab->SelectItem(2));
  EXPECT_EQ(tab->GetCurSel(), 0);
}

TEST_F(NotifyTest, KeyboardMovesFocusAndActivates) {
  // Home page, panel folded: the focusable controls in document order.
  Find(L"btn_start")->SetVisible(false);
  host().KeyPress(Key::kTab);
  EXPECT_EQ(pm().GetFocus(), Find(L"minbtn"));
  host().KeyPress(Key::kTab);
  host().KeyPress(Key::kTab);
  EXPECT_EQ(pm().GetFocus(), Find(L"btn_install"));
  host().KeyPress(Key::kTab, kModShift);
  EXPECT_EQ(pm().GetFocus(), Find(L"closebtn"));
  host().KeyPress(Key::kTab);
  window_->TakeEvents();
  host().KeyPress(Key::kReturn);
  EXPECT_EQ(window_->TakeEvents(), Events({L"click:btn_install"}));
  host().KeyPress(Key::kTab);
  EXPECT_EQ(pm().GetFocus(), Find(L"chk_agree"));
  window_->TakeEvents();
  host().KeyPress(Key::kSpace);
  EXPECT_EQ(window_->TakeEvents(), Events({L"click:chk_agree", L"selectchanged:chk_agree"}));
  // Disabled controls neither click nor take the focus.
  Find(L"btn_install")->SetEnabled(false);
  ClickOn(L"btn_install");
  EXPECT_TRUE(window_->TakeEvents().empty());
  host().KeyPress(Key::kTab, kModShift);
  EXPECT_EQ(pm().GetFocus(), Find(L"closebtn"));
}

TEST_F(NotifyTest, EditTypingReturnAndReadOnly) {
  Find(L"bottomLayout")->SetVisible(true);
  window_->ResizeClient(650, 435);
  auto* edit = Find<CEditUI>(L"edit_path");
  edit->SetText(L"/opt/x");
  EXPECT_TRUE(window_->TakeEvents().empty());
  ClickOn(L"edit_path");
  EXPECT_EQ(window_->TakeEvents(), Events({L"setfocus:edit_path"}));
  host().TypeText(L"yz");
  host().KeyPress(Key::kBack);
  host().KeyPress(Key::kLeft);
  host().KeyPress(Key::kDelete);
  EXPECT_EQ(edit->GetText(), L"/opt/x");
  EXPECT_EQ(window_->TakeEvents(), Events({L"textchanged:edit_path", L"textchanged:edit_path",
                                           L"textchanged:edit_path", L"textchanged:edit_path"}));
  host().KeyPress(Key::kReturn);
  EXPECT_EQ(window_->TakeEvents(), Events({L"return:edit_path"}));
  edit->SetReadOnly(true);
  host().TypeText(L"q");
  host().KeyPress(Key::kBack);
  EXPECT_EQ(edit->GetText(), L"/opt/x");
  EXPECT_TRUE(window_->TakeEvents().empty());
  // Hiding the focused control takes the focus away.
  Find(L"bottomLayout")->SetVisible(false);
  EXPECT_EQ(pm().GetFocus(), nullptr);
}

TEST_F(NotifyTest, APressPutsTheEditCaretWhereItLands) {
  Find(L"bottomLayout")->SetVisible(true);
  window_->ResizeClient(650, 435);
  auto* edit = Find<CEditUI>(L"edit_path");
  edit->SetText(L"/opt/korvana/app");
  pm().EnsureLayout();
  UiRect r = edit->GetPos();
  int y = (r.top + r.bottom) / 2;
  host().Click(r.left + 2, y);
  EXPECT_EQ(edit->GetCaret(), 0u);
  host().TypeText(L"~");
  EXPECT_EQ(edit->GetText(), L"~/opt/korvana/app");
  host().Click(r.right - 3, y);
  EXPECT_EQ(edit->GetCaret(), edit->GetText().size());
  // Somewhere inside the text: strictly between the ends, and further right goes further.
  host().Click(r.left + 40, y);
  std::size_t near = edit->GetCaret();
  host().Click(r.left + 80, y);
  std::size_t far = edit->GetCaret();
  EXPECT_GT(near, 0u);
  EXPECT_GT(far, near);
  EXPECT_LT(far, edit->GetText().size());
}

// The application reacts to the path box's focus by opening a dialog and moving the focus to
// the browse button; the press that gave the focus must not stay captured by the box.
class FocusMovingWindow : public RecordingWindow {
 public:
  FocusMovingWindow() : RecordingWindow(UILIB_ZIPRESOURCE, L"", L"skin.xml") {}
  void Notify(TNotifyUI& msg) override {
    RecordingWindow::Notify(msg);
    if (msg.sType == L"setfocus" && msg.pSender->GetName() == L"edit_path") {
      FindControl(L"btn_browse")->SetFocus();
    }
  }
};

TEST_F(NotifyTest, FocusMovedByTheSetFocusHandlerReleasesThePress) {
  FocusMovingWindow w;
  ASSERT_TRUE(w.Create(L"x"));
  w.FindControl(L"bottomLayout")->SetVisible(true);
  w.ResizeClient(650, 435);
  w.GetPaintManager().EnsureLayout();
  UiPoint edit = Centre(w.FindControl(L"edit_path"));
  // Only the press: the release went to the dialog the handler opened.
  w.host().ButtonDown(edit.x, edit.y);
  w.TakeEvents();
  EXPECT_EQ(w.GetPaintManager().GetFocus(), w.FindControl(L"btn_browse"));
  // Hot tracking goes on normally afterwards.
  UiPoint browse = Centre(w.FindControl(L"btn_browse"));
  w.host().MouseMove(browse.x, browse.y);
  EXPECT_EQ(w.GetPaintManager().GetHot(), w.FindControl(L"btn_browse"));
  w.host().Click(browse.x, browse.y);
  EXPECT_EQ(w.TakeEvents(), Events({L"click:btn_browse"}));
}

TEST_F(NotifyTest, NotificationMapEntriesOfTheDerivedClassComeFirst) {
  struct MappedWindow : RecordingWindow {
    MappedWindow() : RecordingWindow(UILIB_ZIPRESOURCE, L"", L"skin.xml") {
      AddNotifyHandler(L"click", L"btn_install", [this](TNotifyUI&) { ++installClicks; });
      AddNotifyHandler(L"selectchanged", L"",
                       [this](TNotifyUI& m) { changed.push_back(m.pSender->GetName()); });
    }
    int installClicks = 0;
    std::vector<std::wstring> changed;
  } w;
  ASSERT_TRUE(w.Create(L"x"));
  w.GetPaintManager().EnsureLayout();
  UiPoint install = Centre(w.FindControl(L"btn_install"));
  w.host().Click(install.x, install.y);
  EXPECT_EQ(w.installClicks, 1);
  EXPECT_EQ(w.clicksSeenByBase, 0);  // the derived entry handled it
  UiPoint agree = Centre(w.FindControl(L"chk_agree"));
  w.host().Click(agree.x, agree.y);
  EXPECT_EQ(w.installClicks, 1);
  EXPECT_EQ(w.clicksSeenByBase, 1);  // no derived entry for this sender: the base's
  EXPECT_EQ(w.changed, std::vector<std::wstring>({L"chk_agree"}));
}

TEST_F(NotifyTest, HitTestOfCaptionSizeBoxAndButtons) {
  EXPECT_EQ(window_->HitTest(UiPoint{300, 100}), HitArea::kCaption);
  EXPECT_EQ(window_->HitTest(UiPoint{300, 289}), HitArea::kCaption);
  EXPECT_EQ(window_->HitTest(UiPoint{300, 290}), HitArea::kClient);
  EXPECT_EQ(window_->HitTest(Centre(Find(L"btn_install"))), HitArea::kClient);
  EXPECT_EQ(window_->HitTest(Centre(Find(L"closebtn"))), HitArea::kClient);
  EXPECT_EQ(window_->HitTest(UiPoint{2, 100}), HitArea::kLeft);
  EXPECT_EQ(window_->HitTest(UiPoint{647, 100}), HitArea::kRight);
  EXPECT_EQ(window_->HitTest(UiPoint{300, 1}), HitArea::kTop);
  EXPECT_EQ(window_->HitTest(UiPoint{648, 358}), HitArea::kBottomRight);
  EXPECT_EQ(window_->HitTest(UiPoint{1, 1}), HitArea::kTopLeft);

  // A press on the caption moves the window and reaches no control; one on a button clicks.
  host().ButtonDown(300, 100);
  host().ButtonUp(300, 100);
  EXPECT_EQ(host().LastFrameDrag(), HitArea::kCaption);
  EXPECT_TRUE(window_->TakeEvents().empty());
  ClickOn(L"btn_install");
  EXPECT_EQ(window_->TakeEvents(), Events({L"setfocus:btn_install", L"click:btn_install"}));

  // Banner page: the dots take clicks inside the caption; the banner itself drags.
  ShowBannerDots();
  EXPECT_EQ(window_->HitTest(Centre(Find(L"option_0"))), HitArea::kClient);
  EXPECT_EQ(window_->HitTest(UiPoint{300, 100}), HitArea::kCaption);
  // Maximised windows have no size box.
  host().Maximize();
  EXPECT_EQ(window_->HitTest(UiPoint{2, 100}), HitArea::kCaption);
}

TEST_F(NotifyTest, BaseHandlesCloseAndMinimiseButtons) {
  ClickOn(L"minbtn");
  EXPECT_TRUE(host().IsMinimized());
  host().Restore();
  host().Show();
  ClickOn(L"closebtn");
  // The close request is posted, not handled inside the click.
  EXPECT_TRUE(window_->IsWindow());
  scope_.backend().RunPending();
  EXPECT_FALSE(window_->IsWindow());
  EXPECT_FALSE(host().IsVisible());
  EXPECT_EQ(window_->destroyCalls, 1);
}

TEST_F(NotifyTest, ModalLoopEndsWithTheWindowOrItsQuitCode) {
  window_->PostMessage(WM_CLOSE, 0, 0);
  EXPECT_EQ(window_->ShowModal(), 0);
  EXPECT_FALSE(window_->IsWindow());

  // A destroy handler's quit code wins over the loop's own end.
  struct QuittingWindow : RecordingWindow {
    QuittingWindow() : RecordingWindow(UILIB_ZIPRESOURCE, L"", L"skin.xml") {}
    LRESULT OnDestroy(UINT msg, WPARAM w, LPARAM l, bool& handled) override {
      PostQuitMessage(18);
      return RecordingWindow::OnDestroy(msg, w, l, handled);
    }
  } q;
  ASSERT_TRUE(q.Create(L"x"));
  q.PostMessage(WM_CLOSE, 1000, 0);
  EXPECT_EQ(q.ShowModal(), 18);
  EXPECT_EQ(q.destroyCalls, 1);
}

TEST_F(NotifyTest, WorkersPostInOrderAndWaitForMessageBoxes) {
  std::atomic<bool> answeredOnUi{false};
  scope_.backend().SetMessageBoxAnswerer([&](const MessageBoxRequest& r) {
    answeredOnUi = scope_.backend().IsUiThread();
    return r.text == L"retry?" ? IDRETRY : IDOK;
  });
  std::atomic<int> result{0};
  std::thread worker([&] {
    for (WPARAM i = 0; i < 50; ++i) window_->PostMessage(WM_USER + 1, i, 0);
    result = window_->MessageBox(L"retry?", L"Title", MB_ABORTRETRYIGNORE | MB_ICONWARNING);
    window_->PostMessage(WM_USER + 2, 99, 0);
  });
  ASSERT_TRUE(scope_.backend().RunUntil(
      [&] { return !window_->messages.empty() && window_->messages.back().first == WM_USER + 2; },
      std::chrono::seconds(10)));
  worker.join();
  EXPECT_EQ(result, IDRETRY);
  EXPECT_TRUE(answeredOnUi);
  ASSERT_EQ(window_->messages.size(), 51u);
  for (WPARAM i = 0; i < 50; ++i) EXPECT_EQ(window_->messages[i].second, i);
  auto boxes = scope_.backend().GetMessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].caption, L"Title");
  EXPECT_FALSE(boxes[0].onUiThread);
  EXPECT_TRUE(boxes[0].hadOwner);
  // An answer that is not one of the box's buttons becomes the box's dismiss answer.
  scope_.backend().SetMessageBoxAnswerer([](const MessageBoxRequest&) { return IDYES; });
  EXPECT_EQ(window_->MessageBox(L"q", L"t", MB_OKCANCEL), IDCANCEL);
}

TEST_F(NotifyTest, AWorkerWaitingOnABoxOfAVanishedBackendGetsTheDismissAnswer) {
  auto backend = std::make_unique<CHeadlessBackend>();
  std::atomic<int> result{0};
  std::thread worker(
      [&, b = backend.get()] { result = b->MessageBox(nullptr, L"q", L"t", MB_YESNO); });
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (backend->PendingTasks() == 0 && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_EQ(backend->PendingTasks(), 1u);
  backend.reset();
  worker.join();
  EXPECT_EQ(result, IDNO);
}

TEST_F(NotifyTest, ControlTimersSendTimerFromTheirControlAndEndWithIt) {
  CControlUI* label = Find(L"label_tip");
  CControlUI* hide = Find(L"btn_hide");
  ASSERT_TRUE(label->SetTimer(7, 5000));
  ASSERT_TRUE(label->SetTimer(7, 10));  // replaces the first
  ASSERT_TRUE(hide->SetTimer(7, 15));   // same id, another control
  window_->SetTimer(11, 10);            // a window timer beside them
  window_->TakeEvents();
  auto ticks = [&](const wchar_t* name) {
    int n = 0;
    for (auto& e : window_->events) {
      if (e.type == L"timer" && e.sender == name) {
        ++n;
        EXPECT_EQ(e.wParam, 7);
      }
    }
    return n;
  };
  ASSERT_TRUE(
      scope_.backend().RunUntil([&] { return ticks(L"label_tip") >= 2 && ticks(L"btn_hide") >= 2; },
                                std::chrono::seconds(10)));
  // The window's handler sees only its own timer.
  for (auto& m : window_->messages) EXPECT_EQ(m.second, 11u);
  EXPECT_FALSE(window_->messages.empty());
  label->KillTimer(7);
  hide->KillTimer(7);
  window_->KillTimer(11);
  window_->TakeEvents();
  scope_.backend().RunUntil([] { return false; }, std::chrono::milliseconds(80));
  EXPECT_TRUE(window_->TakeEvents().empty());
  // A window going away with a control timer running leaves nothing behind to fire.
  ASSERT_TRUE(hide->SetTimer(8, 5));
  window_.reset();
  scope_.backend().RunUntil([] { return false; }, std::chrono::milliseconds(40));
}

TEST_F(NotifyTest, TimersByIdReplaceAndStop) {
  window_->SetTimer(11, 5000);
  window_->SetTimer(11, 10);
  EXPECT_EQ(host().GetTimerInterval(11), 10u);
  ASSERT_TRUE(scope_.backend().RunUntil([&] { return window_->messages.size() >= 3; },
                                        std::chrono::seconds(10)));
  for (auto& m : window_->messages) {
    EXPECT_EQ(m.first, WM_TIMER);
    EXPECT_EQ(m.second, 11u);
  }
  window_->KillTimer(11);
  std::size_t seen = window_->messages.size();
  scope_.backend().RunUntil([] { return false; }, std::chrono::milliseconds(60));
  EXPECT_EQ(window_->messages.size(), seen);
  EXPECT_FALSE(host().HasTimer(11));
}

}  // namespace
}  // namespace SkinUI
