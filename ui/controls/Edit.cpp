#include "ui/controls/Edit.h"

#include <cairo.h>

#include <cstdlib>

#include "ui/core/Notify.h"
#include "ui/core/PaintManager.h"
#include "ui/render/RenderContext.h"

namespace SkinUI {

CEditUI::CEditUI() {
  textPadding_ = UiRect{6, 0, 6, 0};
}

void CEditUI::SetAttribute(std::wstring_view name, std::wstring_view value) {
  if (name == L"readonly") {
    SetReadOnly(ParseBool(value));
  } else if (name == L"maxchar") {
    maxChar_ = std::max(0, ParseInt(value, maxChar_));
  } else {
    CLabelUI::SetAttribute(name, value);
  }
}

void CEditUI::SetText(const std::wstring& text) {
  CLabelUI::SetText(text);
  caret_ = text_.size();
}

void CEditUI::SetReadOnly(bool readOnly) {
  readOnly_ = readOnly;
  Invalidate();
}

void CEditUI::UserEdit(std::wstring text, std::size_t caret) {
  if (maxChar_ > 0 && text.size() > static_cast<std::size_t>(maxChar_)) return;
  bool changed = text != text_;
  text_ = std::move(text);
  caret_ = std::min(caret, text_.size());
  Invalidate();
  if (changed && manager_ != nullptr) manager_->SendNotify(this, kNotifyTextChanged);
}

void CEditUI::DoEvent(TEventUI& event) {
  if (!IsEnabled()) {
    CLabelUI::DoEvent(event);
    return;
  }
  switch (event.type) {
    case EventType::kSetFocus:
    case EventType::kKillFocus:
      Invalidate();
      return;
    case EventType::kButtonDown:
      PlaceCaretAt(event.ptMouse.x);
      return;
    case EventType::kButtonUp:
    case EventType::kMouseMove:
    case EventType::kMouseEnter:
    case EventType::kMouseLeave:
    case EventType::kDoubleClick:
      return;
    case EventType::kChar:
      if (!readOnly_ && event.chKey >= 0x20 && event.chKey != 0x7F) {
        std::wstring t = text_;
        t.insert(caret_, 1, event.chKey);
        UserEdit(std::move(t), caret_ + 1);
      }
      return;
    case EventType::kKeyDown:
      switch (event.key) {
        case Key::kReturn:
          if (manager_ != nullptr) manager_->SendNotify(this, kNotifyReturn);
          return;
        case Key::kBack:
          if (!readOnly_ && caret_ > 0) {
            std::wstring t = text_;
            t.erase(caret_ - 1, 1);
            UserEdit(std::move(t), caret_ - 1);
          }
          return;
        case Key::kDelete:
          if (!readOnly_ && caret_ < text_.size()) {
            std::wstring t = text_;
            t.erase(caret_, 1);
            UserEdit(std::move(t), caret_);
          }
          return;
        case Key::kLeft:
          if (caret_ > 0) --caret_;
          Invalidate();
          return;
        case Key::kRight:
          if (caret_ < text_.size()) ++caret_;
          Invalidate();
          return;
        case Key::kHome:
          caret_ = 0;
          Invalidate();
          return;
        case Key::kEnd:
          caret_ = text_.size();
          Invalidate();
          return;
        default:
          break;
      }
      break;
    default:
      break;
  }
  CLabelUI::DoEvent(event);
}

void CEditUI::PlaceCaretAt(int x) {
  UiRect rc = rcItem_.Deflated(textPadding_);
  std::size_t best = text_.size();
  if (!text_.empty() && manager_ != nullptr) {
    // Measured as the text is drawn, on a scratch surface: a press can come before a paint.
    cairo_surface_t* scratch = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1);
    cairo_t* cr = cairo_create(scratch);
    {
      CRenderContext ctx(cr, *manager_);
      int origin = rc.left - shift_;
      int bestDistance = std::abs(x - origin);
      best = 0;
      for (std::size_t i = 1; i <= text_.size(); ++i) {
        int d = std::abs(x - (origin + ctx.MeasureText(text_.substr(0, i), font_)));
        if (d < bestDistance) {
          bestDistance = d;
          best = i;
        }
      }
    }
    cairo_destroy(cr);
    cairo_surface_destroy(scratch);
  }
  caret_ = best;
  Invalidate();
}

void CEditUI::PaintBkColor(CRenderContext& ctx) {
  if ((bkColor_ >> 24) != 0) {
    CLabelUI::PaintBkColor(ctx);
    return;
  }
  if (borderRound_.cx > 0 || borderRound_.cy > 0) {
    ctx.FillRoundRect(rcItem_, borderRound_, 0xFFFFFFFF);
  } else {
    ctx.FillRect(rcItem_, 0xFFFFFFFF);
  }
}

void CEditUI::PaintText(CRenderContext& ctx) {
  UiRect rc = rcItem_.Deflated(textPadding_);
  if (rc.IsEmpty()) return;
  UiColor color = CurrentTextColor();
  int caretX = rc.left;
  int textWidth = 0;
  if (!text_.empty()) {
    textWidth = ctx.MeasureText(text_, font_);
    caretX = rc.left + ctx.MeasureText(text_.substr(0, caret_), font_);
  }
  // Long texts scroll so that the caret stays in view.
  int shift = 0;
  if (caretX > rc.right - 1) shift = caretX - (rc.right - 1);
  shift_ = shift;
  ctx.PushClip(rc);
  if (!text_.empty()) {
    UiRect textRc{rc.left - shift, rc.top, rc.left - shift + std::max(textWidth, rc.GetWidth()) + 1,
                  rc.bottom};
    ctx.DrawText(textRc, text_, color, font_, kTextSingleLine | kTextVCenter | kTextLeft);
  }
  if (IsFocused() && !readOnly_) {
    int x = caretX - shift;
    int h = std::min(rc.GetHeight(), 18);
    int y = rc.top + (rc.GetHeight() - h) / 2;
    ctx.FillRect(UiRect{x, y, x + 1, y + h}, 0xFF000000 | (color & 0xFFFFFF));
  }
  ctx.PopClip();
}

}  // namespace SkinUI
