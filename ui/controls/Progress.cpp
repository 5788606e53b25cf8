#include "ui/controls/Progress.h"

namespace SkinUI {

void CProgressUI::SetAttribute(std::wstring_view name, std::wstring_view value) {
  if (name == L"value") {
    SetValue(ParseInt(value));
  } else if (name == L"foreimage") {
    foreImage_ = value;
    Invalidate();
  } else if (name == L"min") {
    min_ = ParseInt(value);
    if (max_ <= min_) max_ = min_ + 1;
    SetValue(value_);
  } else if (name == L"max") {
    max_ = std::max(min_ + 1, ParseInt(value, 100));
    SetValue(value_);
  } else {
    CLabelUI::SetAttribute(name, value);
  }
}

void CProgressUI::SetValue(int value) {
  value = std::clamp(value, min_, max_);
  if (value == value_) return;
  value_ = value;
  Invalidate();
}

UiRect CProgressUI::GetForeRect() const {
  UiRect r = rcItem_;
  long long span = static_cast<long long>(r.GetWidth()) * (value_ - min_) / (max_ - min_);
  r.right = r.left + static_cast<int>(span);
  return r;
}

void CProgressUI::PaintStatusImage(CRenderContext& ctx) {
  UiRect fore = GetForeRect();
  if (foreImage_.empty() || fore.IsEmpty()) return;
  // The bar's rounding applies to the fore image too.
  ctx.PushRoundClip(rcItem_, borderRound_);
  ctx.PushClip(fore);
  ctx.DrawImage(rcItem_, foreImage_);
  ctx.PopClip();
  ctx.PopClip();
}

}  // namespace SkinUI
