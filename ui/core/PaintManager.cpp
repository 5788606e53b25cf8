#include "ui/core/PaintManager.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>

#include "ui/controls/Control.h"
#include "ui/controls/Option.h"
#include "ui/core/SkinResources.h"
#include "ui/render/FontCache.h"
#include "ui/render/ImageCache.h"
#include "ui/render/RenderContext.h"

namespace SkinUI {

CPaintManagerUI::CPaintManagerUI()
    : images_(std::make_unique<CImageCache>()), fonts_(std::make_unique<CFontCache>()) {
  defaultFont_.name = L"Segoe UI";
  defaultFont_.size = 12;
}

CPaintManagerUI::~CPaintManagerUI() {
  // Controls report their destruction here; nothing must point into the tree meanwhile.
  focus_ = hot_ = captured_ = nullptr;
  std::unique_ptr<CControlUI> root = std::move(root_);
  root.reset();
  groups_.clear();
}

std::uint64_t CPaintManagerUI::NowMs() {
  using namespace std::chrono;
  return static_cast<std::uint64_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void CPaintManagerUI::SetResources(std::shared_ptr<CSkinResources> resources) {
  resources_ = std::move(resources);
  images_->SetResources(resources_.get());
}

void CPaintManagerUI::AddFont(int id, const FontInfo& font) {
  fontTable_[id] = font;
}

const FontInfo& CPaintManagerUI::GetFont(int id) const {
  auto it = fontTable_.find(id);
  return it == fontTable_.end() ? defaultFont_ : it->second;
}

void CPaintManagerUI::SetLinkColors(UiColor normal, UiColor hover) {
  linkColor_ = normal;
  linkHoverColor_ = hover;
  Invalidate();
}

void CPaintManagerUI::AttachRoot(std::unique_ptr<CControlUI> root) {
  focus_ = hot_ = captured_ = nullptr;
  root_ = std::move(root);
  if (root_) root_->SetOwner(this, nullptr);
  initSent_ = false;
  NeedUpdate();
}

CControlUI* CPaintManagerUI::FindControl(std::wstring_view name) const {
  if (!root_ || name.empty()) return nullptr;
  return root_->FindByName(name);
}

CControlUI* CPaintManagerUI::FindSubControlByName(CControlUI* parent,
                                                  std::wstring_view name) const {
  if (parent == nullptr || name.empty()) return nullptr;
  return parent->FindByName(name);
}

CControlUI* CPaintManagerUI::FindControlAt(UiPoint pt) const {
  if (!root_) return nullptr;
  const_cast<CPaintManagerUI*>(this)->EnsureLayout();
  return root_->FindControlAt(pt);
}

void CPaintManagerUI::SetClientSize(UiSize size) {
  if (size.cx == clientSize_.cx && size.cy == clientSize_.cy) return;
  clientSize_ = size;
  NeedUpdate();
}

void CPaintManagerUI::NeedUpdate() {
  needUpdate_ = true;
  Invalidate();
}

void CPaintManagerUI::Invalidate() {
  if (onInvalidate_) onInvalidate_();
}

void CPaintManagerUI::EnsureLayout() {
  if (!root_ || inLayout_) return;
  if (needUpdate_) {
    inLayout_ = true;
    needUpdate_ = false;
    root_->SetPos(UiRect{0, 0, clientSize_.cx, clientSize_.cy});
    inLayout_ = false;
    // Layout itself marks controls dirty; only changes from outside count.
    needUpdate_ = false;
  }
  if (!initSent_ && clientSize_.cx > 0 && clientSize_.cy > 0) {
    initSent_ = true;
    SendNotify(root_.get(), kNotifyWindowInit);
    if (needUpdate_) EnsureLayout();
  }
}

void CPaintManagerUI::Paint(cairo_t* cr) {
  EnsureLayout();
  if (!root_) return;
  CRenderContext ctx(cr, *this);
  root_->DoPaint(ctx);
  PaintFocusRing(ctx);
}

namespace {

// The colour a control stands on: the nearest opaque background among its ancestors.
UiColor BackgroundBehind(const CControlUI* control) {
  for (const CControlUI* c = control->GetParent(); c != nullptr; c = c->GetParent()) {
    if ((c->GetBkColor() >> 24) == 0xFF) return c->GetBkColor();
  }
  return 0xFFFFFFFF;
}

double Luminance(UiColor c) {
  auto linear = [](unsigned v) {
    double s = v / 255.0;
    return s <= 0.04045 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
  };
  return 0.2126 * linear((c >> 16) & 0xFF) + 0.7152 * linear((c >> 8) & 0xFF) +
         0.0722 * linear(c & 0xFF);
}

}  // namespace

void CPaintManagerUI::PaintFocusRing(CRenderContext& ctx) {
  if (!focusVisible_ || focus_ == nullptr || !focus_->IsVisibleInTree()) return;
  UiRect r = focus_->GetPos();
  if (r.IsEmpty()) return;
  // Light on dark, dark on light, just outside the control so that it hides nothing of it.
  UiColor ring = Luminance(BackgroundBehind(focus_)) < 0.4 ? 0xFFFFFFFF : 0xFF1B3D37;
  const int w = kFocusRingWidth;
  ctx.DrawBorder(UiRect{r.left - w, r.top - w, r.right + w, r.bottom + w}, w, ring,
                 UiSize{4 * w + 4, 4 * w + 4});
}

void CPaintManagerUI::AddNotifier(INotifyListener* listener) {
  if (listener && std::find(listeners_.begin(), listeners_.end(), listener) == listeners_.end()) {
    listeners_.push_back(listener);
  }
}

void CPaintManagerUI::RemoveNotifier(INotifyListener* listener) {
  listeners_.erase(std::remove(listeners_.begin(), listeners_.end(), listener), listeners_.end());
}

void CPaintManagerUI::SendNotify(CControlUI* sender, const wchar_t* type, std::intptr_t wParam,
                                 std::intptr_t lParam) {
  TNotifyUI msg;
  msg.sType = type;
  msg.pSender = sender;
  msg.dwTimestamp = NowMs();
  msg.ptMouse = lastMouse_;
  msg.wParam = wParam;
  msg.lParam = lParam;
  std::vector<INotifyListener*> listeners = listeners_;
  for (INotifyListener* l : listeners) {
    if (std::find(listeners_.begin(), listeners_.end(), l) != listeners_.end()) l->Notify(msg);
  }
}

void CPaintManagerUI::Dispatch(CControlUI* target, EventType type, UiPoint pt, Key key, wchar_t ch,
                               unsigned modifiers) {
  if (target == nullptr) return;
  TEventUI e;
  e.type = type;
  e.pSender = target;
  e.dwTimestamp = NowMs();
  e.ptMouse = pt;
  e.key = key;
  e.chKey = ch;
  e.modifiers = modifiers;
  target->DoEvent(e);
}

void CPaintManagerUI::SetHot(CControlUI* control, UiPoint pt) {
  if (control == hot_) return;
  CControlUI* old = hot_;
  hot_ = control;
  Dispatch(old, EventType::kMouseLeave, pt);
  Dispatch(hot_, EventType::kMouseEnter, pt);
}

void CPaintManagerUI::OnMouseMove(UiPoint pt) {
  EnsureLayout();
  lastMouse_ = pt;
  CControlUI* under = FindControlAt(pt);
  if (captured_ != nullptr) {
    // While a button is held only the pressed control is hot.
    SetHot(under == captured_ ? captured_ : nullptr, pt);
    Dispatch(captured_, EventType::kMouseMove, pt);
    return;
  }
  SetHot(under, pt);
  Dispatch(under, EventType::kMouseMove, pt);
}

void CPaintManagerUI::OnMouseLeaveWindow() {
  if (captured_ == nullptr) SetHot(nullptr, lastMouse_);
}

void CPaintManagerUI::OnButtonDown(UiPoint pt, unsigned modifiers) {
  EnsureLayout();
  lastMouse_ = pt;
  if (focusVisible_) {
    focusVisible_ = false;
    Invalidate();
  }
  CControlUI* under = FindControlAt(pt);
  SetHot(under, pt);
  if (under == nullptr || !under->IsEnabled()) return;
  if (under->IsFocusable()) {
    SetFocus(under);
    // A focus handler may have moved the focus on (after a dialog that took the release),
    // or hidden or disabled the control: then the press goes nowhere.
    if (focus_ != under) return;
  }
  if (!under->IsVisibleInTree() || !under->IsEnabled()) return;
  captured_ = under;
  Dispatch(under, EventType::kButtonDown, pt, Key::kNone, 0, modifiers);
}

void CPaintManagerUI::OnButtonUp(UiPoint pt, unsigned modifiers) {
  EnsureLayout();
  lastMouse_ = pt;
  CControlUI* target = captured_;
  captured_ = nullptr;
  if (target != nullptr) Dispatch(target, EventType::kButtonUp, pt, Key::kNone, 0, modifiers);
  if (hot_ != nullptr || FindControlAt(pt) != nullptr) SetHot(FindControlAt(pt), pt);
}

void CPaintManagerUI::OnDoubleClick(UiPoint pt) {
  EnsureLayout();
  lastMouse_ = pt;
  CControlUI* under = FindControlAt(pt);
  if (under == nullptr || !under->IsEnabled()) return;
  captured_ = under;
  Dispatch(under, EventType::kDoubleClick, pt);
}

void CPaintManagerUI::OnKeyDown(Key key, unsigned modifiers) {
  EnsureLayout();
  if (!focusVisible_ && key != Key::kOther && focus_ != nullptr) {
    focusVisible_ = true;
    Invalidate();
  }
  if (key == Key::kTab) {
    MoveFocus((modifiers & kModShift) == 0);
    return;
  }
  if (focus_ != nullptr && focus_->IsEnabled() && focus_->IsVisibleInTree()) {
    Dispatch(focus_, EventType::kKeyDown, lastMouse_, key, 0, modifiers);
  }
}

void CPaintManagerUI::OnChar(wchar_t ch) {
  if (focus_ != nullptr && focus_->IsEnabled() && focus_->IsVisibleInTree()) {
    Dispatch(focus_, EventType::kChar, lastMouse_, Key::kNone, ch);
  }
}

void CPaintManagerUI::OnWindowFocusLost() {
  if (captured_ != nullptr) {
    CControlUI* c = captured_;
    captured_ = nullptr;
    // Released outside: the control drops its pushed state without acting.
    Dispatch(c, EventType::kButtonUp, UiPoint{-1, -1});
  }
}

void CPaintManagerUI::SetFocus(CControlUI* control) {
  if (control == focus_) return;
  if (control != nullptr && (!control->IsFocusable() || !control->IsEnabled())) return;
  CControlUI* old = focus_;
  focus_ = control;
  if (old != nullptr) {
    Dispatch(old, EventType::kKillFocus, lastMouse_);
    SendNotify(old, kNotifyKillFocus);
  }
  // The killfocus handler may have moved the focus elsewhere already.
  if (focus_ == control && control != nullptr) {
    Dispatch(control, EventType::kSetFocus, lastMouse_);
    SendNotify(control, kNotifySetFocus);
  }
  Invalidate();
}

void CPaintManagerUI::MoveFocus(bool forward) {
  if (!root_) return;
  focusVisible_ = true;
  std::vector<CControlUI*> order;
  root_->ForEach([&](CControlUI* c) {
    if (c->IsFocusable() && c->IsEnabled() && c->IsVisibleInTree()) order.push_back(c);
  });
  if (order.empty()) return;
  auto it = std::find(order.begin(), order.end(), focus_);
  std::size_t next;
  if (it == order.end()) {
    next = forward ? 0 : order.size() - 1;
  } else {
    std::size_t i = static_cast<std::size_t>(it - order.begin());
    next = forward ? (i + 1) % order.size() : (i + order.size() - 1) % order.size();
  }
  SetFocus(order[next]);
}

void CPaintManagerUI::AddOptionGroup(const std::wstring& group, COptionUI* option) {
  auto& v = groups_[group];
  if (std::find(v.begin(), v.end(), option) == v.end()) v.push_back(option);
}

void CPaintManagerUI::RemoveOptionGroup(const std::wstring& group, COptionUI* option) {
  auto it = groups_.find(group);
  if (it == groups_.end()) return;
  auto& v = it->second;
  v.erase(std::remove(v.begin(), v.end(), option), v.end());
  if (v.empty()) groups_.erase(it);
}

std::vector<COptionUI*> CPaintManagerUI::GetOptionGroup(const std::wstring& group) const {
  auto it = groups_.find(group);
  return it == groups_.end() ? std::vector<COptionUI*>{} : it->second;
}

bool CPaintManagerUI::InSubtree(const CControlUI* node, const CControlUI* root) const {
  for (const CControlUI* c = node; c != nullptr; c = c->GetParent()) {
    if (c == root) return true;
  }
  return false;
}

void CPaintManagerUI::SetTimerHandlers(std::function<bool(int, unsigned)> start,
                                       std::function<void(int)> stop) {
  startTimer_ = std::move(start);
  stopTimer_ = std::move(stop);
}

bool CPaintManagerUI::SetTimer(CControlUI* control, int id, unsigned intervalMs) {
  if (control == nullptr || !startTimer_) return false;
  KillTimer(control, id);
  if (nextTimerId_ == std::numeric_limits<int>::max()) nextTimerId_ = kControlTimerBase;
  int hostId = nextTimerId_++;
  if (!startTimer_(hostId, intervalMs)) return false;
  timers_[hostId] = ControlTimer{control, id};
  return true;
}

void CPaintManagerUI::KillTimer(CControlUI* control, int id) {
  for (auto it = timers_.begin(); it != timers_.end(); ++it) {
    if (it->second.control == control && it->second.id == id) {
      if (stopTimer_) stopTimer_(it->first);
      timers_.erase(it);
      return;
    }
  }
}

bool CPaintManagerUI::OnWindowTimer(int hostId) {
  auto it = timers_.find(hostId);
  if (it == timers_.end()) return hostId >= kControlTimerBase;
  SendNotify(it->second.control, kNotifyTimer, it->second.id);
  return true;
}

void CPaintManagerUI::ForgetControl(CControlUI* control) {
  // A control that goes away takes its timers with it.
  for (auto it = timers_.begin(); it != timers_.end();) {
    if (it->second.control == control) {
      if (stopTimer_) stopTimer_(it->first);
      it = timers_.erase(it);
    } else {
      ++it;
    }
  }
  if (focus_ == control) focus_ = nullptr;
  if (hot_ == control) hot_ = nullptr;
  if (captured_ == control) captured_ = nullptr;
}

void CPaintManagerUI::ControlHidden(CControlUI* control) {
  if (captured_ != nullptr && InSubtree(captured_, control)) {
    CControlUI* c = captured_;
    captured_ = nullptr;
    Dispatch(c, EventType::kButtonUp, UiPoint{-1, -1});
  }
  if (hot_ != nullptr && InSubtree(hot_, control)) SetHot(nullptr, lastMouse_);
  if (focus_ != nullptr && InSubtree(focus_, control)) SetFocus(nullptr);
}

}  // namespace SkinUI
