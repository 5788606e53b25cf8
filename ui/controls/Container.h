// A control holding children. The plain container gives each child its whole inner area;
// the layouts below place them in a row or a column. UI thread.
#pragma once

#include <memory>
#include <vector>

#include "ui/controls/Control.h"

namespace SkinUI {

class CContainerUI : public CControlUI {
 public:
  std::wstring_view GetClass() const override { return L"Container"; }

  // Takes ownership; returns the control.
  CControlUI* Add(std::unique_ptr<CControlUI> child);
  int GetCount() const { return static_cast<int>(items_.size()); }
  CControlUI* GetItemAt(int index) const;
  int GetItemIndex(const CControlUI* child) const;

  const UiRect& GetInset() const { return inset_; }
  void SetInset(const UiRect& inset);
  int GetChildPadding() const { return childPadding_; }
  void SetChildPadding(int padding);

  void SetAttribute(std::wstring_view name, std::wstring_view value) override;
  void SetPos(const UiRect& rc) override;
  void SetOwner(CPaintManagerUI* manager, CControlUI* parent) override;
  CControlUI* FindControlAt(UiPoint pt) override;
  CControlUI* FindByName(std::wstring_view name) override;
  void ForEach(const std::function<void(CControlUI*)>& f) override;
  void DoPaint(CRenderContext& ctx) override;

 protected:
  // Places the children that take part in the flow inside `inner`.
  virtual void LayoutFlow(const UiRect& inner);
  void LayoutFloats();

  std::vector<std::unique_ptr<CControlUI>> items_;
  UiRect inset_;
  int childPadding_ = 0;
};

// Children top to bottom: fixed heights are kept, the rest is shared equally.
class CVerticalLayoutUI : public CContainerUI {
 public:
  std::wstring_view GetClass() const override { return L"VerticalLayout"; }

 protected:
  void LayoutFlow(const UiRect& inner) override;
};

// Children left to right: fixed widths are kept, the rest is shared equally.
class CHorizontalLayoutUI : public CContainerUI {
 public:
  std::wstring_view GetClass() const override { return L"HorizontalLayout"; }

 protected:
  void LayoutFlow(const UiRect& inner) override;
};

}  // namespace SkinUI
