// A host without a display: windows are laid out and painted into images, input is injected
// by the caller, message boxes and the folder picker are answered by callbacks. The thread
// that creates the backend is its UI thread (RunLoop makes the calling thread the UI thread).
// As with the real host, a worker's message box waits for the UI thread to run its loop
// (RunLoop, RunPending or RunUntil).
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "ui/host/Host.h"

typedef struct _cairo_surface cairo_surface_t;

namespace SkinUI {

class CHeadlessBackend;

class CHeadlessWindow : public IHostWindow {
 public:
  CHeadlessWindow(CHeadlessBackend& backend, IHostWindowClient& client,
                  const HostWindowParams& params);
  ~CHeadlessWindow() override;

  // IHostWindow
  void SetTitle(const std::wstring& title) override { title_ = title; }
  bool SetIcon(const unsigned char* data, std::size_t size) override;
  void SetClientSize(UiSize size) override;
  void SetMinClientSize(UiSize size) override;
  UiSize GetClientSize() const override { return size_; }
  UiPoint GetPosition() const override { return position_; }
  void Move(UiPoint topLeft) override { position_ = topLeft; }
  void CenterOnWorkArea() override;
  void Show() override { visible_ = true; }
  void Hide() override { visible_ = false; }
  bool IsVisible() const override { return visible_; }
  void Minimize() override { minimized_ = true; }
  void Maximize() override { maximized_ = true; }
  void Restore() override { maximized_ = minimized_ = false; }
  bool IsMaximized() const override { return maximized_; }
  bool IsMinimized() const override { return minimized_; }
  void Present() override {
    minimized_ = false;
    visible_ = true;
  }
  void Invalidate() override { ++invalidations_; }
  void SetTimer(int id, unsigned intervalMs) override;
  void KillTimer(int id) override;
  void SetTaskbarState(TaskbarState state) override { taskbarState_ = state; }
  void SetTaskbarValue(std::uint64_t completed, std::uint64_t total) override;
  int GetScale() const override { return scale_; }

  // --- Rendering: paints the whole client area into a new image (ARGB32) at a scale.
  // The caller owns the surface (cairo_surface_destroy).
  cairo_surface_t* Render(int scale = 1);
  bool SavePng(const std::string& path, int scale = 1);
  void SetScale(int scale) { scale_ = scale; }

  // --- Injected input, as the native window would deliver it. A press the hit-test puts
  // on the caption or the size box starts a move or resize instead of reaching the controls.
  void MouseMove(int x, int y);
  void ButtonDown(int x, int y, unsigned modifiers = 0);
  void ButtonUp(int x, int y, unsigned modifiers = 0);
  void Click(int x, int y);
  void KeyPress(Key key, unsigned modifiers = 0);
  void TypeText(const std::wstring& text);
  void RequestClose();
  // What a screen reader would be told, and its requests.
  std::vector<AccessibleNode> AccessibleNodes() { return client_.OnHostAccessibleNodes(); }
  bool AccessibleAction(std::uintptr_t id) { return client_.OnHostAccessibleAction(id); }
  bool AccessibleFocus(std::uintptr_t id) { return client_.OnHostAccessibleFocus(id); }

  // --- What happened, for the caller to check.
  std::optional<HitArea> LastFrameDrag() const { return lastFrameDrag_; }
  const std::wstring& GetTitle() const { return title_; }
  bool HasIcon() const { return iconWidth_ > 0; }
  UiSize GetIconSize() const { return UiSize{iconWidth_, iconHeight_}; }
  TaskbarState GetTaskbarState() const { return taskbarState_; }
  std::uint64_t GetTaskbarCompleted() const { return taskbarCompleted_; }
  std::uint64_t GetTaskbarTotal() const { return taskbarTotal_; }
  int GetInvalidations() const { return invalidations_; }
  bool HasTimer(int id) const { return timers_.count(id) != 0; }
  unsigned GetTimerInterval(int id) const;
  // Fires a timer now as if it had elapsed (it keeps running).
  bool FireTimer(int id);
  // The work area CenterOnWorkArea uses.
  static constexpr UiRect kWorkArea{0, 0, 1920, 1040};

 private:
  friend class CHeadlessBackend;
  struct Timer {
    unsigned interval;
    std::chrono::steady_clock::time_point due;
  };
  // Fires due timers; returns the earliest next due time.
  std::optional<std::chrono::steady_clock::time_point> RunDueTimers();
  // The earliest due time of the running timers.
  std::optional<std::chrono::steady_clock::time_point> NextDue() const;

  CHeadlessBackend& backend_;
  IHostWindowClient& client_;
  std::wstring title_;
  UiSize size_;
  UiSize min_{0, 0};
  UiPoint position_;
  bool visible_ = false;
  bool minimized_ = false;
  bool maximized_ = false;
  int scale_ = 1;
  int invalidations_ = 0;
  int iconWidth_ = 0;
  int iconHeight_ = 0;
  bool pressInFrame_ = false;
  std::optional<HitArea> lastFrameDrag_;
  TaskbarState taskbarState_ = TaskbarState::kNoProgress;
  std::uint64_t taskbarCompleted_ = 0;
  std::uint64_t taskbarTotal_ = 0;
  std::map<int, Timer> timers_;
};

struct MessageBoxRequest {
  std::wstring text;
  std::wstring caption;
  unsigned flags = 0;
  bool hadOwner = false;
  bool onUiThread = false;  // where the caller was; the answer always comes on the UI thread
  std::vector<std::wstring> buttons;  // the labels, in display order
};

class CHeadlessBackend : public IHostBackend {
 public:
  CHeadlessBackend();
  ~CHeadlessBackend() override;

  std::unique_ptr<IHostWindow> CreateHostWindow(IHostWindowClient& client,
                                                const HostWindowParams& params) override;
  int RunLoop() override;
  void Quit(int code) override;
  void Post(std::function<void()> task) override;
  bool IsUiThread() const override;
  int MessageBox(IHostWindow* owner, const std::wstring& text, const std::wstring& caption,
                 unsigned flags) override;
  bool PickFolder(IHostWindow* owner, const std::wstring& title, std::wstring& folder) override;

  // Without an answerer every box gets its dismiss answer.
  void SetMessageBoxAnswerer(std::function<int(const MessageBoxRequest&)> answerer);
  std::vector<MessageBoxRequest> GetMessageBoxes() const;
  void SetFolderAnswerer(std::function<bool(const std::wstring& title, std::wstring& folder)> f);
  std::vector<std::wstring> GetFolderPickerTitles() const;

  // Any thread: posted tasks not yet run.
  std::size_t PendingTasks() const;
  // UI thread: runs the posted tasks and due timers that are ready now; returns how many ran.
  int RunPending();
  // UI thread: runs the loop until done() holds or the time is up; false on time-out.
  bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

  // A clock for tests of long timers. Once UseManualClock is called, window timers no longer
  // follow real time: they fall due only as AdvanceClock moves the clock on. UI thread.
  void UseManualClock();
  // Moves the manual clock on by `step`, firing each timer every time it falls due on the
  // way, in time order, as a real clock would.
  void AdvanceClock(std::chrono::milliseconds step);
  // The time timers are measured against: the manual clock once in use, else the real one.
  std::chrono::steady_clock::time_point Now() const;

 private:
  friend class CHeadlessWindow;
  void AddWindow(CHeadlessWindow* w);
  void RemoveWindow(CHeadlessWindow* w);
  int RunOnce(std::chrono::steady_clock::time_point waitUntil, bool stopOnQuit);

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> queue_;
  std::thread::id uiThread_;
  bool quit_ = false;
  int quitCode_ = 0;
  std::vector<CHeadlessWindow*> windows_;
  std::function<int(const MessageBoxRequest&)> answerer_;
  std::vector<MessageBoxRequest> boxes_;
  std::function<bool(const std::wstring&, std::wstring&)> folderAnswerer_;
  std::vector<std::wstring> folderTitles_;
  std::optional<std::chrono::steady_clock::time_point> manualNow_;  // UI thread
};

}  // namespace SkinUI
