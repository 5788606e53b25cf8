// A push button with images and text colours per state; sends "click". UI thread.
#pragma once

#include "ui/controls/Label.h"

namespace SkinUI {

class CButtonUI : public CLabelUI {
 public:
  CButtonUI() { align_ = TextAlign::kCenter; }
  std::wstring_view GetClass() const override { return L"Button"; }
  bool IsFocusable() const override { return true; }

  void SetAttribute(std::wstring_view name, std::wstring_view value) override;
  void SetEnabled(bool enabled) override;
  void DoEvent(TEventUI& event) override;
  // Sends "click"; false when the control is hidden or disabled.
  bool Activate() override;

  // kStateHot, kStatePushed, kStateFocused, kStateDisabled, kStateSelected bits.
  unsigned GetState() const;
  void SetNormalImage(const std::wstring& image);
  // A push button of fixed width with centred text keeps kMinSidePadding on either side.
  UiRect GetTextArea() const override;
  static constexpr int kMinSidePadding = 12;

 protected:
  void PaintStatusImage(CRenderContext& ctx) override;
  UiColor CurrentTextColor() const override;
  unsigned TextStyleFlags() const override;
  bool IsHot() const { return hot_; }
  bool IsPushed() const { return pushed_; }

  std::wstring normalImage_;
  std::wstring hotImage_;
  std::wstring pushedImage_;
  std::wstring focusedImage_;
  std::wstring disabledImage_;
  UiColor hotTextColor_ = 0;
  UiColor pushedTextColor_ = 0;
  UiColor focusedTextColor_ = 0;

 private:
  bool hot_ = false;
  bool pushed_ = false;
  bool captured_ = false;
};

}  // namespace SkinUI
