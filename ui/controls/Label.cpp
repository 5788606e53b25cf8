#include "ui/controls/Label.h"

namespace SkinUI {

void CLabelUI::SetAttribute(std::wstring_view name, std::wstring_view value) {
  if (name == L"textcolor") {
    SetTextColor(ParseColor(value));
  } else if (name == L"disabledtextcolor") {
    disabledTextColor_ = ParseColor(value);
    Invalidate();
  } else if (name == L"font") {
    SetFont(ParseInt(value, -1));
  } else if (name == L"align") {
    align_ = ParseAlign(value, align_);
    Invalidate();
  } else if (name == L"textpadding") {
    textPadding_ = ParseRect(value);
    Invalidate();
  } else if (name == L"showhtml") {
    SetShowHtml(ParseBool(value));
  } else {
    CControlUI::SetAttribute(name, value);
  }
}

void CLabelUI::SetTextColor(UiColor color) {
  textColor_ = color;
  Invalidate();
}

void CLabelUI::SetFont(int index) {
  font_ = index;
  Invalidate();
}

void CLabelUI::SetShowHtml(bool show) {
  showHtml_ = show;
  Invalidate();
}

UiColor CLabelUI::CurrentTextColor() const {
  if (!IsEnabled() && disabledTextColor_ != 0) return disabledTextColor_;
  return textColor_;
}

unsigned CLabelUI::TextStyleFlags() const {
  unsigned style = kTextSingleLine | kTextVCenter | kTextEndEllipsis | kTextShrinkToFit;
  if (align_ == TextAlign::kCenter)
    style |= kTextCenter;
  else if (align_ == TextAlign::kRight)
    style |= kTextRight;
  return style;
}

UiRect CLabelUI::GetTextArea() const {
  return rcItem_.Deflated(textPadding_);
}

void CLabelUI::PaintText(CRenderContext& ctx) {
  links_.clear();
  fit_ = TextFit{};
  const std::wstring& text = GetText();
  if (text.empty()) return;
  UiRect rc = GetTextArea();
  if (showHtml_) {
    fit_ =
        ctx.DrawRichText(rc, text, CurrentTextColor(), font_, TextStyleFlags(), &links_, hotLink_);
  } else {
    fit_ = ctx.DrawText(rc, text, CurrentTextColor(), font_, TextStyleFlags());
  }
}

unsigned CTextUI::TextStyleFlags() const {
  unsigned style = kTextWordBreak | kTextTop;
  if (align_ == TextAlign::kCenter)
    style |= kTextCenter;
  else if (align_ == TextAlign::kRight)
    style |= kTextRight;
  return style;
}

}  // namespace SkinUI
