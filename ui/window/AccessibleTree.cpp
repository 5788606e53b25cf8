#include "ui/window/AccessibleTree.h"

#include "ui/controls/Container.h"
#include "ui/controls/Edit.h"
#include "ui/controls/Option.h"
#include "ui/controls/Progress.h"
#include "ui/core/InlineMarkup.h"
#include "ui/core/PaintManager.h"

namespace SkinUI {
namespace {

std::wstring PlainTextOf(const CControlUI* c) {
  auto* label = dynamic_cast<const CLabelUI*>(c);
  if (label == nullptr) return c->GetText();
  std::wstring text =
      label->IsShowHtml() ? ParseInlineMarkup(label->GetText()).PlainText() : label->GetText();
  for (wchar_t& ch : text) {
    if (ch == L'\n') ch = L' ';
  }
  return text;
}

enum class Beside { kAnyText, kLabelsOnly };

// The nearest sibling that shows a text, nearer ones first, those after the control first.
std::wstring TextBeside(const CControlUI* control, Beside which) {
  auto* parent = dynamic_cast<const CContainerUI*>(control->GetParent());
  if (parent == nullptr) return L"";
  int at = parent->GetItemIndex(control);
  for (int d = 1; d < parent->GetCount(); ++d) {
    for (int i : {at + d, at - d}) {
      CControlUI* sibling = (i >= 0 && i < parent->GetCount()) ? parent->GetItemAt(i) : nullptr;
      if (sibling == nullptr || !sibling->IsVisible()) continue;
      if (dynamic_cast<CLabelUI*>(sibling) == nullptr || dynamic_cast<CEditUI*>(sibling)) continue;
      if (which == Beside::kLabelsOnly && dynamic_cast<CButtonUI*>(sibling) != nullptr) continue;
      std::wstring text = PlainTextOf(sibling);
      if (!text.empty()) return text;
    }
  }
  return L"";
}

bool Exposed(const CControlUI* c) {
  if (dynamic_cast<const CProgressUI*>(c) || dynamic_cast<const CEditUI*>(c)) return true;
  if (dynamic_cast<const CButtonUI*>(c)) return true;
  // Texts only when they say something.
  return dynamic_cast<const CLabelUI*>(c) != nullptr && !PlainTextOf(c).empty();
}

AccessibleNode Describe(const CControlUI* c, const CPaintManagerUI& pm, LayoutDirection dir) {
  AccessibleNode n;
  n.id = reinterpret_cast<std::uintptr_t>(c);
  n.bounds = c->GetPos();
  n.enabled = c->IsEnabled();
  n.focusable = c->IsFocusable();
  n.focused = pm.GetFocus() == c;
  n.name = AccessibleNameOf(c);
  if (auto* progress = dynamic_cast<const CProgressUI*>(c)) {
    n.role = AccessibleRole::kProgressBar;
    n.minimum = progress->GetMinValue();
    n.maximum = progress->GetMaxValue();
    n.value = dir == LayoutDirection::kRightToLeft ? n.maximum - progress->GetValue() + n.minimum
                                                   : progress->GetValue();
  } else if (auto* edit = dynamic_cast<const CEditUI*>(c)) {
    n.role = AccessibleRole::kEntry;
    n.text = edit->GetText();
    n.editable = !edit->IsReadOnly();
  } else if (auto* option = dynamic_cast<const COptionUI*>(c)) {
    bool box = dynamic_cast<const CCheckBoxUI*>(c) != nullptr || option->GetGroup().empty();
    n.role = box ? AccessibleRole::kCheckBox : AccessibleRole::kRadioButton;
    n.checkable = true;
    n.checked = option->IsSelected();
    n.action = box ? L"toggle" : L"click";
  } else if (dynamic_cast<const CButtonUI*>(c)) {
    n.role = AccessibleRole::kPushButton;
    n.action = L"click";
  } else {
    n.role = AccessibleRole::kLabel;
    n.text = n.name;
  }
  return n;
}

}  // namespace

std::wstring AccessibleNameOf(const CControlUI* control) {
  if (const std::wstring* own = control->GetCustomAttribute(L"accessiblename")) return *own;
  // An edit box's text is its value; its name is the label's.
  if (dynamic_cast<const CEditUI*>(control) != nullptr) {
    return TextBeside(control, Beside::kLabelsOnly);
  }
  std::wstring text = PlainTextOf(control);
  if (!text.empty() || dynamic_cast<const CLabelUI*>(control) == nullptr) return text;
  static const std::pair<const wchar_t*, const wchar_t*> kTitleButtons[] = {
      {L"closebtn", L"Close"},
      {L"minbtn", L"Minimize"},
      {L"maxbtn", L"Maximize"},
      {L"restorebtn", L"Restore"}};
  for (const auto& [name, label] : kTitleButtons) {
    if (control->GetName() == name) return label;
  }
  auto* option = dynamic_cast<const COptionUI*>(control);
  if (option != nullptr && !option->GetGroup().empty() && control->GetManager() != nullptr) {
    int place = 0;
    for (COptionUI* o : control->GetManager()->GetOptionGroup(option->GetGroup())) {
      if (o->IsVisibleInTree()) ++place;
      if (o == option) return std::to_wstring(place);
    }
  }
  return option != nullptr ? TextBeside(control, Beside::kAnyText) : L"";
}

std::vector<AccessibleNode> DescribeControls(const CPaintManagerUI& pm, LayoutDirection direction) {
  std::vector<AccessibleNode> nodes;
  CControlUI* root = pm.GetRoot();
  if (root == nullptr) return nodes;
  root->ForEach([&](CControlUI* c) {
    if (!c->IsVisibleInTree() || c->GetPos().IsEmpty() || !Exposed(c)) return;
    nodes.push_back(Describe(c, pm, direction));
  });
  return nodes;
}

CControlUI* FindDescribedControl(const CPaintManagerUI& pm, std::uintptr_t id) {
  CControlUI* found = nullptr;
  if (CControlUI* root = pm.GetRoot()) {
    root->ForEach([&](CControlUI* c) {
      if (reinterpret_cast<std::uintptr_t>(c) == id && c->IsVisibleInTree()) found = c;
    });
  }
  return found;
}

}  // namespace SkinUI
