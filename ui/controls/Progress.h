// A horizontal progress bar: background colour, rounded border, and the fore image over the
// part that corresponds to the value. UI thread.
#pragma once

#include "ui/controls/Label.h"

namespace SkinUI {

class CProgressUI : public CLabelUI {
 public:
  std::wstring_view GetClass() const override { return L"Progress"; }

  void SetAttribute(std::wstring_view name, std::wstring_view value) override;
  int GetValue() const { return value_; }
  // Clamped to the range (0 to 100 unless the skin says otherwise).
  void SetValue(int value);
  int GetMinValue() const { return min_; }
  int GetMaxValue() const { return max_; }
  // The part of the bar the fore image covers at the current value.
  UiRect GetForeRect() const;

 protected:
  void PaintStatusImage(CRenderContext& ctx) override;

 private:
  std::wstring foreImage_;
  int value_ = 0;
  int min_ = 0;
  int max_ = 100;
};

}  // namespace SkinUI
