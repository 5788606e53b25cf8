#include "ui/controls/Option.h"

#include "ui/core/Notify.h"
#include "ui/core/PaintManager.h"

namespace SkinUI {

COptionUI::~COptionUI() {
  if (manager_ != nullptr && !group_.empty()) manager_->RemoveOptionGroup(group_, this);
}

void COptionUI::SetAttribute(std::wstring_view name, std::wstring_view value) {
  if (name == L"group") {
    SetGroup(std::wstring(value));
  } else if (name == L"selected") {
    Selected(ParseBool(value), Notification::kSilent);
  } else if (name == L"selectedimage") {
    selectedImage_ = value;
    Invalidate();
  } else if (name == L"selectedhotimage") {
    selectedHotImage_ = value;
    Invalidate();
  } else if (name == L"selectedtextcolor") {
    selectedTextColor_ = ParseColor(value);
    Invalidate();
  } else {
    CButtonUI::SetAttribute(name, value);
  }
}

void COptionUI::SetOwner(CPaintManagerUI* manager, CControlUI* parent) {
  if (manager_ != nullptr && manager_ != manager && !group_.empty()) {
    manager_->RemoveOptionGroup(group_, this);
  }
  bool join = manager != nullptr && manager != manager_ && !group_.empty();
  CButtonUI::SetOwner(manager, parent);
  if (join) manager_->AddOptionGroup(group_, this);
}

void COptionUI::SetGroup(const std::wstring& group) {
  if (group == group_) return;
  if (manager_ != nullptr && !group_.empty()) manager_->RemoveOptionGroup(group_, this);
  group_ = group;
  if (manager_ != nullptr && !group_.empty()) manager_->AddOptionGroup(group_, this);
}

void COptionUI::Selected(bool selected, Notification notify) {
  if (selected_ == selected) return;
  selected_ = selected;
  Invalidate();
  if (selected && !group_.empty() && manager_ != nullptr) {
    // Copy: a handler of the others' notifications may change the group.
    std::vector<COptionUI*> group = manager_->GetOptionGroup(group_);
    for (COptionUI* other : group) {
      if (other != this) other->Selected(false, notify);
    }
  }
  if (notify == Notification::kNotify && manager_ != nullptr) {
    manager_->SendNotify(this, kNotifySelectChanged, selected ? 1 : 0);
  }
}

bool COptionUI::Activate() {
  if (!CButtonUI::Activate()) return false;
  if (!group_.empty())
    Selected(true);
  else
    Selected(!selected_);
  return true;
}

void COptionUI::PaintStatusImage(CRenderContext& ctx) {
  if (selected_) {
    if ((IsHot() || IsPushed()) && !selectedHotImage_.empty() &&
        ctx.DrawImage(rcItem_, selectedHotImage_)) {
      return;
    }
    if (!selectedImage_.empty() && ctx.DrawImage(rcItem_, selectedImage_)) return;
  }
  CButtonUI::PaintStatusImage(ctx);
}

UiColor COptionUI::CurrentTextColor() const {
  if (selected_ && IsEnabled() && selectedTextColor_ != 0) return selectedTextColor_;
  return CButtonUI::CurrentTextColor();
}

void CCheckBoxUI::SetAttribute(std::wstring_view name, std::wstring_view value) {
  // A check box never joins a group: it always toggles.
  if (name == L"group") return;
  COptionUI::SetAttribute(name, value);
}

}  // namespace SkinUI
