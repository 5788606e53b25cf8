// A top-level window on the chosen host backend, with a message-style interface: messages
// are handled by HandleMessage on the UI thread, posted from any thread in order. Workers that
// post to a window or ask it for message boxes must be done before the window object goes.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "ui/host/Host.h"
#include "ui/window/WindowMessages.h"

namespace SkinUI {

class CNativeWindow : public IHostWindowClient {
 public:
  CNativeWindow();
  ~CNativeWindow() override;
  CNativeWindow(const CNativeWindow&) = delete;
  CNativeWindow& operator=(const CNativeWindow&) = delete;

  // UI thread. Creates the host window (hidden) and runs OnCreate. False without a backend or
  // when OnCreate fails.
  bool Create(const std::wstring& title, UiSize clientSize = {650, 360});
  bool IsWindow() const { return host_ != nullptr && !destroyed_; }
  IHostWindow* GetHostWindow() const { return host_.get(); }

  // UI thread.
  void ShowWindow(bool show = true);
  void CenterWindow();
  // Never below the minimum client size.
  void ResizeClient(int cx, int cy);
  // The smallest client area the user can resize the window to.
  void SetMinClientSize(int cx, int cy);
  UiSize GetClientSize() const;
  void Minimize();
  // Shows a hidden or minimised window and raises it (a second start asks for this).
  void BringToFront();
  void Maximize();
  void Restore();
  // Hides the window, stops its timers and sends WM_DESTROY; the native window itself goes
  // with this object.
  void DestroyWindow();

  // UI thread: handles the message now.
  LRESULT SendMessage(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0);
  // Any thread: the message is handled on the UI thread after everything posted before it.
  // Dropped when the window is gone by then.
  void PostMessage(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0);
  // Any thread: runs task on the UI thread, in order with the posted messages; dropped when
  // the window is gone by then.
  void PostTask(std::function<void()> task);

  // UI thread. A timer delivers WM_TIMER with its id; setting an id again replaces it.
  bool SetTimer(int id, unsigned intervalMs);
  void KillTimer(int id);

  // Any thread; blocks until answered. Owned by this window.
  int MessageBox(const std::wstring& text, const std::wstring& caption, unsigned flags);
  // UI thread: the folder picker with the given title.
  bool BrowseForFolder(const std::wstring& title, std::wstring& folder);
  // UI thread: the window icon from a resource of type "ICON" (a PNG).
  bool SetIconResource(int id);
  void SetTaskbarState(TaskbarState state);
  void SetTaskbarValue(std::uint64_t completed, std::uint64_t total);

  // UI thread: shows the window and runs the loop until the window is destroyed or a quit
  // message arrives; returns the quit code (0 when the window simply went).
  int ShowModal();
  // The UI thread's loop, until PostQuitMessage; returns its code.
  static int MessageLoop();
  // Any thread.
  static void PostQuitMessage(int code);

 protected:
  // The native window's class (role) name.
  virtual std::wstring GetWindowClassName() const { return L"SkinUIWindow"; }
  // Called by Create once the host window exists. False aborts the creation.
  virtual bool OnCreate() { return true; }
  // Every message passes here; the default closes on WM_CLOSE and handles WM_SYSCOMMAND.
  virtual LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam);

  // IHostWindowClient defaults that route the native events into messages.
  void OnHostPaint(cairo_t* cr) override {}
  void OnHostResize(UiSize clientSize) override {}
  HitArea OnHostHitTest(UiPoint pt) override { return HitArea::kClient; }
  void OnHostMouseMove(UiPoint pt) override {}
  void OnHostMouseLeave() override {}
  void OnHostButtonDown(UiPoint pt, unsigned modifiers) override {}
  void OnHostButtonUp(UiPoint pt, unsigned modifiers) override {}
  void OnHostDoubleClick(UiPoint pt) override {}
  void OnHostKeyDown(Key key, unsigned modifiers) override {}
  void OnHostChar(wchar_t ch) override {}
  void OnHostFocusLost() override {}
  void OnHostCloseRequest() override;
  void OnHostTimer(int id) override;

 private:
  std::unique_ptr<IHostWindow> host_;
  // Read by workers asking for a message box.
  std::atomic<bool> destroyed_{false};
  bool modal_ = false;
  // Posted work checks this before touching the window.
  std::shared_ptr<bool> alive_;
};

}  // namespace SkinUI
