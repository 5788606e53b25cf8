// Selectable buttons: COptionUI (one selected per group name; without a group it toggles) and
// CCheckBoxUI (an option that always toggles). UI thread.
#pragma once

#include "ui/controls/Button.h"

namespace SkinUI {

class COptionUI : public CButtonUI {
 public:
  ~COptionUI() override;
  std::wstring_view GetClass() const override { return L"Option"; }

  void SetAttribute(std::wstring_view name, std::wstring_view value) override;
  void SetOwner(CPaintManagerUI* manager, CControlUI* parent) override;

  const std::wstring& GetGroup() const { return group_; }
  void SetGroup(const std::wstring& group);
  bool IsSelected() const { return selected_; }
  // Changes the selection; with kNotify sends "selectchanged" when the state really changes.
  // Selecting an option of a group deselects the others of the group (each notifies the same
  // way).
  void Selected(bool selected, Notification notify = Notification::kNotify);
  // "click", then the selection change a click makes.
  bool Activate() override;

 protected:
  void PaintStatusImage(CRenderContext& ctx) override;
  UiColor CurrentTextColor() const override;

  std::wstring group_;
  bool selected_ = false;
  std::wstring selectedImage_;
  std::wstring selectedHotImage_;
  UiColor selectedTextColor_ = 0;
};

class CCheckBoxUI : public COptionUI {
 public:
  std::wstring_view GetClass() const override { return L"CheckBox"; }
  void SetAttribute(std::wstring_view name, std::wstring_view value) override;
  bool GetCheck() const { return IsSelected(); }
  void SetCheck(bool check, Notification notify = Notification::kNotify) {
    Selected(check, notify);
  }
};

}  // namespace SkinUI
