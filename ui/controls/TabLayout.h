// Shows one child page at a time; the first page at start. UI thread.
#pragma once

#include "ui/controls/Container.h"

namespace SkinUI {

class CTabLayoutUI : public CContainerUI {
 public:
  std::wstring_view GetClass() const override { return L"TabLayout"; }

  int GetCurSel() const { return curSel_; }
  // Shows page `index`; with kNotify sends "tabselect" (new index, old index) when the page
  // really changes. False for an index out of range.
  bool SelectItem(int index, Notification notify = Notification::kNotify);

  void SetAttribute(std::wstring_view name, std::wstring_view value) override;
  void SetPos(const UiRect& rc) override;

 protected:
  void LayoutFlow(const UiRect& inner) override;

 private:
  void ApplyVisibility();
  int curSel_ = 0;
};

}  // namespace SkinUI
