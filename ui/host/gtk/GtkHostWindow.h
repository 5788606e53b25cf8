// One undecorated GTK window whose client area the toolkit paints. UI thread only.
#pragma once

#include <map>
#include <memory>

#include "ui/host/Host.h"
#include "ui/host/gtk/LauncherEntry.h"

typedef struct _GtkWidget GtkWidget;
typedef struct _GtkWindow GtkWindow;
typedef struct _GdkPixbuf GdkPixbuf;

namespace SkinUI {

class CGtkAccessibility;

class CGtkHostWindow : public IHostWindow {
 public:
  CGtkHostWindow(IHostWindowClient& client, const HostWindowParams& params);
  ~CGtkHostWindow() override;

  // UI thread: the GTK window of `w` while it exists, else null. A box asked for by a worker
  // is shown later, when its owner may be gone.
  static GtkWindow* LiveGtkWindow(const IHostWindow* w);
  // Ctrl+V and Shift+Insert type the clipboard's text into the focused control.
  void PasteClipboard();

  void SetTitle(const std::wstring& title) override;
  bool SetIcon(const unsigned char* data, std::size_t size) override;
  void SetClientSize(UiSize size) override;
  void SetMinClientSize(UiSize size) override;
  UiSize GetClientSize() const override { return size_; }
  UiPoint GetPosition() const override;
  void Move(UiPoint topLeft) override;
  void CenterOnWorkArea() override;
  void Show() override;
  void Hide() override;
  bool IsVisible() const override;
  void Minimize() override;
  void Maximize() override;
  void Restore() override;
  bool IsMaximized() const override;
  bool IsMinimized() const override { return minimized_; }
  void Present() override;
  void Invalidate() override;
  void SetTimer(int id, unsigned intervalMs) override;
  void KillTimer(int id) override;
  void SetTaskbarState(TaskbarState state) override;
  void SetTaskbarValue(std::uint64_t completed, std::uint64_t total) override;
  int GetScale() const override;

  GtkWindow* gtkWindow() const;

 private:
  struct Callbacks;
  friend struct Callbacks;
  void UpdateTaskbar();
  // The program's icon with the badge of the taskbar state (error, paused).
  void UpdateIcon();

  IHostWindowClient& client_;
  GtkWidget* window_ = nullptr;
  GtkWidget* area_ = nullptr;
  UiSize size_;
  UiSize min_{0, 0};
  bool minimized_ = false;
  bool maximized_ = false;
  bool pressInFrame_ = false;
  std::map<int, unsigned> timers_;  // id -> GLib source id
  std::unique_ptr<CLauncherEntry> launcher_;
  std::unique_ptr<CGtkAccessibility> accessibility_;
  TaskbarState taskbarState_ = TaskbarState::kNoProgress;
  double taskbarProgress_ = 0;
  GdkPixbuf* icon_ = nullptr;  // as set, without a badge
};

}  // namespace SkinUI
