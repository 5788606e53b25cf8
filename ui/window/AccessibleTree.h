// The window's controls as a screen reader sees them: buttons, check boxes, options, texts,
// the edit box and the progress bar that are on screen, in document (reading) order. UI thread.
#pragma once

#include <cstdint>
#include <vector>

#include "ui/host/Accessible.h"

namespace SkinUI {

class CControlUI;
class CPaintManagerUI;

enum class LayoutDirection { kLeftToRight, kRightToLeft };

// A right-to-left skin fills its progress bar from the other side, so the bar's value is the
// remaining share; the node reports the progress itself.
std::vector<AccessibleNode> DescribeControls(const CPaintManagerUI& pm, LayoutDirection direction);

// The control behind a node id, while it is still in the tree and on screen; else null.
CControlUI* FindDescribedControl(const CPaintManagerUI& pm, std::uintptr_t id);

// A name for a control whose own text is empty: the window's title buttons get theirs, a check
// box or an edit box takes the text of the label beside it, an option its place in its group.
std::wstring AccessibleNameOf(const CControlUI* control);

}  // namespace SkinUI
