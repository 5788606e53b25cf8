#include "ui/controls/TabLayout.h"

#include "ui/core/Notify.h"
#include "ui/core/PaintManager.h"

namespace SkinUI {

bool CTabLayoutUI::SelectItem(int index, Notification notify) {
  if (index < 0 || index >= GetCount()) return false;
  int old = curSel_;
  curSel_ = index;
  ApplyVisibility();
  NeedParentUpdate();
  if (old != index && notify == Notification::kNotify && manager_ != nullptr) {
    manager_->SendNotify(this, kNotifyTabSelect, index, old);
  }
  return true;
}

void CTabLayoutUI::SetAttribute(std::wstring_view name, std::wstring_view value) {
  if (name == L"selectedid") {
    curSel_ = std::max(0, ParseInt(value));
  } else {
    CContainerUI::SetAttribute(name, value);
  }
}

void CTabLayoutUI::ApplyVisibility() {
  for (int i = 0; i < GetCount(); ++i) {
    CControlUI* page = GetItemAt(i);
    bool show = i == curSel_;
    if (page->IsVisible() != show) page->SetVisible(show);
  }
}

void CTabLayoutUI::SetPos(const UiRect& rc) {
  if (curSel_ >= GetCount()) curSel_ = 0;
  ApplyVisibility();
  CContainerUI::SetPos(rc);
}

void CTabLayoutUI::LayoutFlow(const UiRect& inner) {
  for (auto& c : items_) {
    if (c->IsVisible() && !c->IsFloat()) c->SetPos(inner);
  }
}

}  // namespace SkinUI
