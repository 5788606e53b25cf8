// Input events as the host delivers them to the control tree.
#pragma once

#include <cstdint>

#include "ui/core/Types.h"

namespace SkinUI {

class CControlUI;

enum class EventType {
  kMouseEnter,
  kMouseLeave,
  kMouseMove,
  kButtonDown,
  kButtonUp,
  kDoubleClick,
  kKeyDown,
  kChar,
  kSetFocus,
  kKillFocus,
};

enum class Key {
  kNone,
  kTab,
  kReturn,
  kSpace,
  kEscape,
  kBack,
  kDelete,
  kLeft,
  kRight,
  kHome,
  kEnd,
  kOther,
};

enum Modifier : unsigned { kModNone = 0, kModShift = 1, kModControl = 2, kModAlt = 4 };

struct TEventUI {
  EventType type = EventType::kMouseMove;
  CControlUI* pSender = nullptr;
  std::uint64_t dwTimestamp = 0;
  UiPoint ptMouse;
  Key key = Key::kNone;
  wchar_t chKey = 0;  // for kChar
  unsigned modifiers = kModNone;
};

}  // namespace SkinUI
