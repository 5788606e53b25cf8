#include "ui/controls/Control.h"

#include "ui/core/PaintManager.h"
#include "ui/host/Host.h"
#include "ui/render/RenderContext.h"

namespace SkinUI {

CControlUI::CControlUI() = default;

CControlUI::~CControlUI() {
  if (manager_ != nullptr) manager_->ForgetControl(this);
}

bool CControlUI::SetTimer(int id, unsigned intervalMs) {
  return manager_ != nullptr && manager_->SetTimer(this, id, intervalMs);
}

void CControlUI::KillTimer(int id) {
  if (manager_ != nullptr) manager_->KillTimer(this, id);
}

void CControlUI::SetText(const std::wstring& text) {
  if (text_ == text) return;
  text_ = text;
  Invalidate();
}

bool CControlUI::IsVisibleInTree() const {
  for (const CControlUI* c = this; c != nullptr; c = c->parent_) {
    if (!c->visible_) return false;
  }
  return true;
}

void CControlUI::SetVisible(bool visible) {
  if (visible_ == visible) return;
  visible_ = visible;
  if (!visible && manager_ != nullptr) manager_->ControlHidden(this);
  NeedParentUpdate();
}

void CControlUI::SetEnabled(bool enabled) {
  if (enabled_ == enabled) return;
  enabled_ = enabled;
  if (!enabled && manager_ != nullptr) manager_->ControlHidden(this);
  Invalidate();
}

bool CControlUI::IsFocused() const {
  return manager_ != nullptr && manager_->GetFocus() == this;
}

void CControlUI::SetFocus() {
  if (manager_ != nullptr) manager_->SetFocus(this);
}

void CControlUI::SetAttribute(std::wstring_view name, std::wstring_view value) {
  if (name == L"name") {
    name_ = value;
  } else if (name == L"text") {
    SetText(std::wstring(value));
  } else if (name == L"pos") {
    floatPos_ = ParseRect(value);
    SetFixedWidth(floatPos_.GetWidth());
    SetFixedHeight(floatPos_.GetHeight());
  } else if (name == L"float") {
    float_ = ParseBool(value);
    NeedParentUpdate();
  } else if (name == L"width") {
    SetFixedWidth(ParseInt(value));
  } else if (name == L"height") {
    SetFixedHeight(ParseInt(value));
  } else if (name == L"visible") {
    SetVisible(ParseBool(value));
  } else if (name == L"enabled") {
    SetEnabled(ParseBool(value));
  } else if (name == L"bkcolor") {
    SetBkColor(ParseColor(value));
  } else if (name == L"bordercolor") {
    borderColor_ = ParseColor(value);
    Invalidate();
  } else if (name == L"focusbordercolor") {
    focusBorderColor_ = ParseColor(value);
    Invalidate();
  } else if (name == L"bordersize") {
    borderSize_ = std::max(0, ParseInt(value));
    Invalidate();
  } else if (name == L"borderround") {
    borderRound_ = ParseSize(value);
    Invalidate();
  } else if (name == L"bkimage") {
    SetBkImage(std::wstring(value));
  }
}

void CControlUI::SetBkImage(const std::wstring& image) {
  if (bkImage_ == image) return;
  bkImage_ = image;
  Invalidate();
}

void CControlUI::SetBkColor(UiColor color) {
  bkColor_ = color;
  Invalidate();
}

void CControlUI::SetCustomAttribute(const std::wstring& name, const std::wstring& value) {
  custom_[name] = value;
}

const std::wstring* CControlUI::GetCustomAttribute(const std::wstring& name) const {
  auto it = custom_.find(name);
  return it == custom_.end() ? nullptr : &it->second;
}

void CControlUI::RemoveCustomAttribute(const std::wstring& name) {
  custom_.erase(name);
}

void CControlUI::SetPos(const UiRect& rc) {
  rcItem_ = rc;
  Invalidate();
}

void CControlUI::SetFixedWidth(int cx) {
  fixedWidth_ = std::max(0, cx);
  NeedParentUpdate();
}

void CControlUI::SetFixedHeight(int cy) {
  fixedHeight_ = std::max(0, cy);
  NeedParentUpdate();
}

void CControlUI::SetOwner(CPaintManagerUI* manager, CControlUI* parent) {
  manager_ = manager;
  parent_ = parent;
}

CControlUI* CControlUI::FindControlAt(UiPoint pt) {
  if (!visible_ || !rcItem_.Contains(pt)) return nullptr;
  return this;
}

CControlUI* CControlUI::FindByName(std::wstring_view name) {
  return name_ == name ? this : nullptr;
}

void CControlUI::ForEach(const std::function<void(CControlUI*)>& f) {
  f(this);
}

void CControlUI::DoEvent(TEventUI& event) {
  // Plain controls pass mouse wheel and the like up; nothing else to do here.
  if (parent_ != nullptr && event.type != EventType::kMouseEnter &&
      event.type != EventType::kMouseLeave && event.type != EventType::kSetFocus &&
      event.type != EventType::kKillFocus) {
    parent_->DoEvent(event);
  }
}

void CControlUI::DoPaint(CRenderContext& ctx) {
  if (rcItem_.IsEmpty()) return;
  PaintBkColor(ctx);
  PaintBkImage(ctx);
  PaintStatusImage(ctx);
  PaintText(ctx);
  PaintBorder(ctx);
}

bool CControlUI::Activate() {
  return IsVisibleInTree() && enabled_;
}

void CControlUI::Invalidate() {
  if (manager_ == nullptr) return;
  AssertUiThread("a control change");
  manager_->Invalidate();
}

void CControlUI::NeedParentUpdate() {
  if (manager_ == nullptr) return;
  AssertUiThread("a control change");
  manager_->NeedUpdate();
}

void CControlUI::PaintBkColor(CRenderContext& ctx) {
  if ((bkColor_ >> 24) == 0) return;
  if (borderRound_.cx > 0 || borderRound_.cy > 0) {
    ctx.FillRoundRect(rcItem_, borderRound_, bkColor_);
  } else {
    ctx.FillRect(rcItem_, bkColor_);
  }
}

void CControlUI::PaintBkImage(CRenderContext& ctx) {
  if (!bkImage_.empty()) ctx.DrawImage(rcItem_, bkImage_);
}

void CControlUI::PaintBorder(CRenderContext& ctx) {
  if (borderSize_ <= 0) return;
  UiColor color = borderColor_;
  if (IsFocused() && focusBorderColor_ != 0) color = focusBorderColor_;
  if ((color >> 24) == 0 && color == 0) return;
  ctx.DrawBorder(rcItem_, borderSize_, color, borderRound_);
}

}  // namespace SkinUI
