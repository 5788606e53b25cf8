// The native side of the toolkit, one interface with two backends: GTK (ui/host/gtk) and a
// headless one for tests and off-screen rendering (ui/host/headless). The caller picks the
// backend once per process with SetHostBackend.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ui/core/Events.h"
#include "ui/core/Types.h"
#include "ui/host/Accessible.h"

typedef struct _cairo cairo_t;

namespace SkinUI {

// Message box flags and results, as the program's callers know them.
inline constexpr unsigned MB_OK = 0x0;
inline constexpr unsigned MB_OKCANCEL = 0x1;
inline constexpr unsigned MB_ABORTRETRYIGNORE = 0x2;
inline constexpr unsigned MB_YESNOCANCEL = 0x3;
inline constexpr unsigned MB_YESNO = 0x4;
inline constexpr unsigned MB_RETRYCANCEL = 0x5;
inline constexpr unsigned MB_TYPEMASK = 0xF;
inline constexpr unsigned MB_ICONERROR = 0x10;
inline constexpr unsigned MB_ICONQUESTION = 0x20;
inline constexpr unsigned MB_ICONWARNING = 0x30;
inline constexpr unsigned MB_ICONINFORMATION = 0x40;
inline constexpr unsigned MB_ICONMASK = 0xF0;
inline constexpr unsigned MB_SETFOREGROUND = 0x10000;
inline constexpr unsigned MB_RIGHT = 0x80000;
inline constexpr unsigned MB_RTLREADING = 0x100000;

inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDABORT = 3;
inline constexpr int IDRETRY = 4;
inline constexpr int IDIGNORE = 5;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

// The buttons of a box type, in display order, and the answer closing the box gives.
std::vector<int> MessageBoxButtons(unsigned flags);
int MessageBoxDismissResult(unsigned flags);

// Labels of the message-box buttons by result id (IDOK ... IDNO), for the UI language; a missing
// or empty label keeps the English default. UI thread, once at start-up, before any box shows.
void SetMessageBoxButtonLabels(std::map<int, std::wstring> labels);
// The label a box shows for a result id. Any thread.
std::wstring MessageBoxButtonLabel(int id);

// Taskbar progress states (the values of the platform they come from).
enum class TaskbarState {
  kNoProgress = 0,
  kIndeterminate = 1,
  kNormal = 2,
  kError = 4,
  kPaused = 8
};

// Which part of the window lies under a point.
enum class HitArea {
  kClient,
  kCaption,
  kLeft,
  kRight,
  kTop,
  kBottom,
  kTopLeft,
  kTopRight,
  kBottomLeft,
  kBottomRight,
};

// What a host window asks of the toolkit window it shows. Called on the UI thread.
class IHostWindowClient {
 public:
  virtual ~IHostWindowClient() = default;
  virtual void OnHostPaint(cairo_t* cr) = 0;
  virtual void OnHostResize(UiSize clientSize) = 0;
  virtual HitArea OnHostHitTest(UiPoint pt) = 0;
  virtual void OnHostMouseMove(UiPoint pt) = 0;
  virtual void OnHostMouseLeave() = 0;
  virtual void OnHostButtonDown(UiPoint pt, unsigned modifiers) = 0;
  virtual void OnHostButtonUp(UiPoint pt, unsigned modifiers) = 0;
  virtual void OnHostDoubleClick(UiPoint pt) = 0;
  virtual void OnHostKeyDown(Key key, unsigned modifiers) = 0;
  virtual void OnHostChar(wchar_t ch) = 0;
  virtual void OnHostFocusLost() = 0;
  // The user or the system asks the window to close.
  virtual void OnHostCloseRequest() = 0;
  virtual void OnHostTimer(int id) = 0;
  // Accessibility: the controls in reading order; the default action and the focus of one.
  virtual std::vector<AccessibleNode> OnHostAccessibleNodes() { return {}; }
  virtual bool OnHostAccessibleAction(std::uintptr_t id) { return false; }
  virtual bool OnHostAccessibleFocus(std::uintptr_t id) { return false; }
};

// One top-level window. UI thread only.
class IHostWindow {
 public:
  virtual ~IHostWindow() = default;
  virtual void SetTitle(const std::wstring& title) = 0;
  // Window icon from encoded image bytes (PNG); false when they cannot be decoded.
  virtual bool SetIcon(const unsigned char* data, std::size_t size) = 0;
  // Clamped to the minimum client size.
  virtual void SetClientSize(UiSize size) = 0;
  // Neither the user's resizing nor SetClientSize makes the client area smaller than this.
  virtual void SetMinClientSize(UiSize size) = 0;
  virtual UiSize GetClientSize() const = 0;
  // Screen position of the window's top-left corner.
  virtual UiPoint GetPosition() const = 0;
  virtual void Move(UiPoint topLeft) = 0;
  // Centres the window on the work area of the monitor it is on.
  virtual void CenterOnWorkArea() = 0;
  virtual void Show() = 0;
  virtual void Hide() = 0;
  virtual bool IsVisible() const = 0;
  virtual void Minimize() = 0;
  virtual void Maximize() = 0;
  virtual void Restore() = 0;
  virtual bool IsMaximized() const = 0;
  virtual bool IsMinimized() const = 0;
  virtual void Present() = 0;
  virtual void Invalidate() = 0;
  // Starting an id again replaces the running timer of that id.
  virtual void SetTimer(int id, unsigned intervalMs) = 0;
  virtual void KillTimer(int id) = 0;
  virtual void SetTaskbarState(TaskbarState state) = 0;
  virtual void SetTaskbarValue(std::uint64_t completed, std::uint64_t total) = 0;
  // The display's scale factor (1 or 2).
  virtual int GetScale() const = 0;
};

struct HostWindowParams {
  std::wstring title;
  std::wstring className;
  UiSize clientSize{650, 360};
};

// The process-wide side: the UI thread's loop, cross-thread posting and the dialogs.
class IHostBackend {
 public:
  virtual ~IHostBackend() = default;

  // UI thread.
  virtual std::unique_ptr<IHostWindow> CreateHostWindow(IHostWindowClient& client,
                                                        const HostWindowParams& params) = 0;
  // Runs the UI thread's loop until Quit; returns the quit code.
  virtual int RunLoop() = 0;
  // Any thread.
  virtual void Quit(int code) = 0;
  // Any thread: runs `task` on the UI thread, after everything posted before it.
  virtual void Post(std::function<void()> task) = 0;
  virtual bool IsUiThread() const = 0;

  // Any thread; a worker blocks until the UI thread's box is answered, and gets the box's
  // dismiss answer when the backend goes away first. owner may be null, or gone by the time
  // the box is shown (it is then shown without one).
  virtual int MessageBox(IHostWindow* owner, const std::wstring& text, const std::wstring& caption,
                         unsigned flags) = 0;
  // UI thread. True with the chosen folder, false when cancelled.
  virtual bool PickFolder(IHostWindow* owner, const std::wstring& title, std::wstring& folder) = 0;
};

// The backend the window classes use; set once at start. Not owned by the toolkit's users.
void SetHostBackend(std::shared_ptr<IHostBackend> backend);
IHostBackend* GetHostBackend();

// Debug builds end the process with a message naming `what` when it runs off the UI thread
// while a backend is set: controls, timers and the taskbar belong to the UI thread.
void AssertUiThread(const char* what);

}  // namespace SkinUI
