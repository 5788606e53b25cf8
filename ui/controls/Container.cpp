#include "ui/controls/Container.h"

#include <algorithm>

#include "ui/core/PaintManager.h"
#include "ui/render/RenderContext.h"

namespace SkinUI {
namespace {

bool InFlow(const CControlUI* c) {
  return c->IsVisible() && !c->IsFloat();
}

// Shares `space` among `n` flexible children; the first ones get the remainder pixels so
// that the row is filled exactly.
int Share(int space, int n, int index) {
  if (n <= 0 || space <= 0) return 0;
  int base = space / n;
  return base + (index < space % n ? 1 : 0);
}

enum class Axis { kVertical, kHorizontal };

// Clamped so that skin values summed up stay far from int overflow.
int Clamp(long long v) {
  return static_cast<int>(std::clamp<long long>(v, -(1LL << 30), 1LL << 30));
}

// Places the flow children one after another along the axis: fixed sizes are kept (even
// where they overflow; the container clips), the rest is shared by the others.
void LayoutAlong(std::vector<std::unique_ptr<CControlUI>>& items, const UiRect& inner,
                 int childPadding, Axis axis) {
  bool vertical = axis == Axis::kVertical;
  auto along = [vertical](const CControlUI* c) {
    return vertical ? c->GetFixedHeight() : c->GetFixedWidth();
  };
  auto across = [vertical](const CControlUI* c) {
    return vertical ? c->GetFixedWidth() : c->GetFixedHeight();
  };
  int count = 0;
  int flexible = 0;
  long long fixedTotal = 0;
  for (auto& c : items) {
    if (!InFlow(c.get())) continue;
    ++count;
    if (along(c.get()) > 0)
      fixedTotal += along(c.get());
    else
      ++flexible;
  }
  long long padding = count > 1 ? static_cast<long long>(childPadding) * (count - 1) : 0;
  int length = vertical ? inner.GetHeight() : inner.GetWidth();
  int breadth = vertical ? inner.GetWidth() : inner.GetHeight();
  int space = Clamp(length - fixedTotal - padding);
  long long at = vertical ? inner.top : inner.left;
  int flexIndex = 0;
  for (auto& c : items) {
    if (!InFlow(c.get())) continue;
    int a = along(c.get()) > 0 ? along(c.get()) : Share(space, flexible, flexIndex++);
    int b = across(c.get()) > 0 ? across(c.get()) : breadth;
    int start = Clamp(at);
    int end = Clamp(at + a);
    c->SetPos(vertical
                  ? UiRect{inner.left, start, Clamp(inner.left + static_cast<long long>(b)), end}
                  : UiRect{start, inner.top, end, Clamp(inner.top + static_cast<long long>(b))});
    at += static_cast<long long>(a) + childPadding;
  }
}

}  // namespace

CControlUI* CContainerUI::Add(std::unique_ptr<CControlUI> child) {
  CControlUI* raw = child.get();
  items_.push_back(std::move(child));
  raw->SetOwner(manager_, this);
  NeedParentUpdate();
  return raw;
}

CControlUI* CContainerUI::GetItemAt(int index) const {
  if (index < 0 || index >= GetCount()) return nullptr;
  return items_[static_cast<std::size_t>(index)].get();
}

int CContainerUI::GetItemIndex(const CControlUI* child) const {
  for (int i = 0; i < GetCount(); ++i) {
    if (items_[static_cast<std::size_t>(i)].get() == child) return i;
  }
  return -1;
}

void CContainerUI::SetInset(const UiRect& inset) {
  inset_ = inset;
  NeedParentUpdate();
}

void CContainerUI::SetChildPadding(int padding) {
  childPadding_ = std::max(0, padding);
  NeedParentUpdate();
}

void CContainerUI::SetAttribute(std::wstring_view name, std::wstring_view value) {
  if (name == L"inset") {
    SetInset(ParseRect(value));
  } else if (name == L"childpadding") {
    SetChildPadding(ParseInt(value));
  } else {
    CControlUI::SetAttribute(name, value);
  }
}

void CContainerUI::SetPos(const UiRect& rc) {
  CControlUI::SetPos(rc);
  UiRect inner = rc.Deflated(inset_);
  LayoutFlow(inner);
  LayoutFloats();
}

void CContainerUI::LayoutFlow(const UiRect& inner) {
  for (auto& c : items_) {
    if (InFlow(c.get())) c->SetPos(inner);
  }
}

void CContainerUI::LayoutFloats() {
  for (auto& c : items_) {
    if (!c->IsVisible() || !c->IsFloat()) continue;
    UiRect r = c->GetFloatPos();
    r.Offset(rcItem_.left, rcItem_.top);
    c->SetPos(r);
  }
}

void CContainerUI::SetOwner(CPaintManagerUI* manager, CControlUI* parent) {
  CControlUI::SetOwner(manager, parent);
  for (auto& c : items_) c->SetOwner(manager, this);
}

CControlUI* CContainerUI::FindControlAt(UiPoint pt) {
  if (!visible_ || !rcItem_.Contains(pt)) return nullptr;
  // Later children are painted over earlier ones, and floats over the flow.
  for (int pass = 0; pass < 2; ++pass) {
    for (auto it = items_.rbegin(); it != items_.rend(); ++it) {
      if ((*it)->IsFloat() != (pass == 0)) continue;
      if (CControlUI* hit = (*it)->FindControlAt(pt)) return hit;
    }
  }
  return this;
}

CControlUI* CContainerUI::FindByName(std::wstring_view name) {
  if (name_ == name) return this;
  for (auto& c : items_) {
    if (CControlUI* found = c->FindByName(name)) return found;
  }
  return nullptr;
}

void CContainerUI::ForEach(const std::function<void(CControlUI*)>& f) {
  f(this);
  for (auto& c : items_) c->ForEach(f);
}

void CContainerUI::DoPaint(CRenderContext& ctx) {
  if (rcItem_.IsEmpty()) return;
  ctx.PushClip(rcItem_);
  PaintBkColor(ctx);
  PaintBkImage(ctx);
  for (int pass = 0; pass < 2; ++pass) {
    for (auto& c : items_) {
      if (!c->IsVisible() || c->IsFloat() != (pass == 1)) continue;
      c->DoPaint(ctx);
    }
  }
  PaintBorder(ctx);
  ctx.PopClip();
}

void CVerticalLayoutUI::LayoutFlow(const UiRect& inner) {
  LayoutAlong(items_, inner, childPadding_, Axis::kVertical);
}

void CHorizontalLayoutUI::LayoutFlow(const UiRect& inner) {
  LayoutAlong(items_, inner, childPadding_, Axis::kHorizontal);
}

}  // namespace SkinUI
