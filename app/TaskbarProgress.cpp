#include "app/TaskbarProgress.h"

#include "ui/window/NativeWindow.h"

void TaskbarProgress::Attach(SkinUI::CNativeWindow* window) {
  window_ = window;
  SetState(SkinUI::TaskbarState::kIndeterminate);
}

void TaskbarProgress::SetState(SkinUI::TaskbarState state) {
  if (window_ != nullptr) window_->SetTaskbarState(state);
}

void TaskbarProgress::SetValue(std::uint64_t completed, std::uint64_t total) {
  if (window_ != nullptr) window_->SetTaskbarValue(completed, total);
}
