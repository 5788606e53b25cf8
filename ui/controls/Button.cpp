#include "ui/controls/Button.h"

#include "ui/core/Notify.h"
#include "ui/core/PaintManager.h"

namespace SkinUI {

void CButtonUI::SetAttribute(std::wstring_view name, std::wstring_view value) {
  if (name == L"normalimage") {
    SetNormalImage(std::wstring(value));
  } else if (name == L"hotimage") {
    hotImage_ = value;
  } else if (name == L"pushedimage") {
    pushedImage_ = value;
  } else if (name == L"focusedimage") {
    focusedImage_ = value;
  } else if (name == L"disabledimage") {
    disabledImage_ = value;
  } else if (name == L"hottextcolor") {
    hotTextColor_ = ParseColor(value);
  } else if (name == L"pushedtextcolor") {
    pushedTextColor_ = ParseColor(value);
  } else if (name == L"focusedtextcolor") {
    focusedTextColor_ = ParseColor(value);
  } else {
    CLabelUI::SetAttribute(name, value);
    return;
  }
  Invalidate();
}

void CButtonUI::SetNormalImage(const std::wstring& image) {
  normalImage_ = image;
  Invalidate();
}

void CButtonUI::SetEnabled(bool enabled) {
  if (!enabled) {
    hot_ = false;
    pushed_ = false;
    captured_ = false;
  }
  CLabelUI::SetEnabled(enabled);
}

unsigned CButtonUI::GetState() const {
  unsigned s = kStateNormal;
  if (!IsEnabled()) return kStateDisabled;
  if (hot_) s |= kStateHot;
  if (pushed_) s |= kStatePushed;
  if (IsFocused()) s |= kStateFocused;
  return s;
}

void CButtonUI::DoEvent(TEventUI& event) {
  if (!IsEnabled() && event.type != EventType::kMouseLeave) {
    CLabelUI::DoEvent(event);
    return;
  }
  switch (event.type) {
    case EventType::kMouseEnter:
      hot_ = true;
      Invalidate();
      return;
    case EventType::kMouseLeave:
      hot_ = false;
      hotLink_ = -1;
      Invalidate();
      return;
    case EventType::kButtonDown:
    case EventType::kDoubleClick:
      captured_ = true;
      pushed_ = true;
      Invalidate();
      return;
    case EventType::kMouseMove: {
      bool inside = rcItem_.Contains(event.ptMouse);
      if (captured_ && pushed_ != inside) {
        pushed_ = inside;
        Invalidate();
      }
      int link = -1;
      for (const LinkArea& a : links_) {
        if (a.rect.Contains(event.ptMouse)) link = a.link;
      }
      if (link != hotLink_) {
        hotLink_ = link;
        Invalidate();
      }
      return;
    }
    case EventType::kButtonUp: {
      bool fire = captured_ && rcItem_.Contains(event.ptMouse);
      captured_ = false;
      pushed_ = false;
      Invalidate();
      if (fire) Activate();
      return;
    }
    case EventType::kKeyDown:
      if (event.key == Key::kSpace || event.key == Key::kReturn) {
        Activate();
        return;
      }
      break;
    default:
      break;
  }
  CLabelUI::DoEvent(event);
}

bool CButtonUI::Activate() {
  if (!CLabelUI::Activate()) return false;
  if (manager_ != nullptr) manager_->SendNotify(this, kNotifyClick);
  return true;
}

void CButtonUI::PaintStatusImage(CRenderContext& ctx) {
  if (!IsEnabled()) {
    if (!disabledImage_.empty() && ctx.DrawImage(rcItem_, disabledImage_)) return;
  } else if (pushed_) {
    if (!pushedImage_.empty() && ctx.DrawImage(rcItem_, pushedImage_)) return;
    if (!hotImage_.empty() && ctx.DrawImage(rcItem_, hotImage_)) return;
  } else if (hot_) {
    if (!hotImage_.empty() && ctx.DrawImage(rcItem_, hotImage_)) return;
  } else if (IsFocused()) {
    if (!focusedImage_.empty() && ctx.DrawImage(rcItem_, focusedImage_)) return;
  }
  if (!normalImage_.empty()) ctx.DrawImage(rcItem_, normalImage_);
}

UiColor CButtonUI::CurrentTextColor() const {
  if (!IsEnabled()) return disabledTextColor_ != 0 ? disabledTextColor_ : textColor_;
  if (pushed_ && pushedTextColor_ != 0) return pushedTextColor_;
  if ((hot_ || pushed_) && hotTextColor_ != 0) return hotTextColor_;
  if (IsFocused() && focusedTextColor_ != 0) return focusedTextColor_;
  return textColor_;
}

UiRect CButtonUI::GetTextArea() const {
  UiRect rc = CLabelUI::GetTextArea();
  // Options and check boxes place their text beside their images with the skin's padding.
  if (GetClass() != L"Button" || fixedWidth_ <= 0 || align_ != TextAlign::kCenter) return rc;
  rc.left = std::max(rc.left, rcItem_.left + kMinSidePadding);
  rc.right = std::min(rc.right, rcItem_.right - kMinSidePadding);
  return rc;
}

unsigned CButtonUI::TextStyleFlags() const {
  unsigned style = kTextSingleLine | kTextVCenter | kTextEndEllipsis | kTextShrinkToFit;
  if (align_ == TextAlign::kRight)
    style |= kTextRight;
  else if (align_ == TextAlign::kLeft)
    style |= kTextLeft;
  else
    style |= kTextCenter;
  return style;
}

}  // namespace SkinUI
