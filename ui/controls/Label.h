// Static texts: CLabelUI (one line, vertically centred) and CTextUI (wrapped, from the top).
// UI thread.
#pragma once

#include <vector>

#include "ui/controls/Control.h"
#include "ui/render/RenderContext.h"

namespace SkinUI {

class CLabelUI : public CControlUI {
 public:
  std::wstring_view GetClass() const override { return L"Label"; }

  void SetAttribute(std::wstring_view name, std::wstring_view value) override;

  UiColor GetTextColor() const { return textColor_; }
  void SetTextColor(UiColor color);
  int GetFont() const { return font_; }
  void SetFont(int index);
  TextAlign GetAlign() const { return align_; }
  bool IsShowHtml() const { return showHtml_; }
  void SetShowHtml(bool show);
  const UiRect& GetTextPadding() const { return textPadding_; }
  // Where the links of a rich text were drawn at the last paint.
  const std::vector<LinkArea>& GetLinkAreas() const { return links_; }
  // How the text fitted its place at the last paint (scale, ellipsis, widths).
  const TextFit& GetTextFit() const { return fit_; }
  // The area the text is laid out in: the control less its text padding.
  virtual UiRect GetTextArea() const;

 protected:
  void PaintText(CRenderContext& ctx) override;
  // The colour for the current state; subclasses pick hot, pushed and disabled colours.
  virtual UiColor CurrentTextColor() const;
  virtual unsigned TextStyleFlags() const;
  int HotLink() const { return hotLink_; }

  UiColor textColor_ = 0;
  UiColor disabledTextColor_ = 0;
  int font_ = -1;
  TextAlign align_ = TextAlign::kLeft;
  UiRect textPadding_;
  bool showHtml_ = false;
  std::vector<LinkArea> links_;
  int hotLink_ = -1;
  TextFit fit_;
};

class CTextUI : public CLabelUI {
 public:
  std::wstring_view GetClass() const override { return L"Text"; }

 protected:
  unsigned TextStyleFlags() const override;
};

}  // namespace SkinUI
