// The progress shown on the window's taskbar (dock) button, over the toolkit's taskbar calls.
// Without a desktop that shows it nothing happens and nothing fails. UI thread only.
#pragma once

#include <cstdint>

#include "ui/host/Host.h"

namespace SkinUI {
class CNativeWindow;
}

class TaskbarProgress {
 public:
  TaskbarProgress() = default;
  TaskbarProgress(const TaskbarProgress&) = delete;
  TaskbarProgress& operator=(const TaskbarProgress&) = delete;

  // Remembers the window and marks its button busy (indeterminate).
  void Attach(SkinUI::CNativeWindow* window);
  void SetState(SkinUI::TaskbarState state);
  void SetValue(std::uint64_t completed, std::uint64_t total);

 private:
  SkinUI::CNativeWindow* window_ = nullptr;
};
