// What a screen reader learns about the window's controls: the toolkit describes them, the
// host hands them to the desktop's accessibility interface. UI thread.
#pragma once

#include <cstdint>
#include <string>

#include "ui/core/Types.h"

namespace SkinUI {

enum class AccessibleRole {
  kPushButton,
  kCheckBox,
  kRadioButton,
  kLabel,
  kEntry,
  kProgressBar,
};

struct AccessibleNode {
  std::uintptr_t id = 0;  // stable while the control exists
  AccessibleRole role = AccessibleRole::kLabel;
  std::wstring name;
  UiRect bounds;  // client coordinates, skin pixels
  bool enabled = true;
  bool focusable = false;
  bool focused = false;
  bool checkable = false;
  bool checked = false;
  bool editable = false;  // an entry the user can type into
  // The default action's name ("click", "toggle"), empty when the control has none.
  std::wstring action;
  // Entries and labels: their text. Progress bars: value and range.
  std::wstring text;
  int value = 0;
  int minimum = 0;
  int maximum = 100;
};

}  // namespace SkinUI
