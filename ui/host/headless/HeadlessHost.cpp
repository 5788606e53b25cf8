#include "ui/host/headless/HeadlessHost.h"

#include <cairo.h>

#include <algorithm>
#include <future>

#include "ui/render/ImageCache.h"

namespace SkinUI {

using Clock = std::chrono::steady_clock;

CHeadlessWindow::CHeadlessWindow(CHeadlessBackend& backend, IHostWindowClient& client,
                                 const HostWindowParams& params)
    : backend_(backend), client_(client), title_(params.title), size_(params.clientSize) {
  backend_.AddWindow(this);
}

CHeadlessWindow::~CHeadlessWindow() {
  backend_.RemoveWindow(this);
}

bool CHeadlessWindow::SetIcon(const unsigned char* data, std::size_t size) {
  auto img = DecodeImage(std::vector<unsigned char>(data, data + size), std::nullopt);
  if (!img) return false;
  iconWidth_ = img->width();
  iconHeight_ = img->height();
  return true;
}

void CHeadlessWindow::SetClientSize(UiSize size) {
  if (size.cx <= 0 || size.cy <= 0) return;
  size_ = UiSize{std::max(size.cx, min_.cx), std::max(size.cy, min_.cy)};
  client_.OnHostResize(size_);
}

void CHeadlessWindow::SetMinClientSize(UiSize size) {
  min_ = UiSize{std::max(0, size.cx), std::max(0, size.cy)};
  if (size_.cx < min_.cx || size_.cy < min_.cy) SetClientSize(size_);
}

void CHeadlessWindow::CenterOnWorkArea() {
  position_.x = kWorkArea.left + (kWorkArea.GetWidth() - size_.cx) / 2;
  position_.y = kWorkArea.top + (kWorkArea.GetHeight() - size_.cy) / 2;
}

void CHeadlessWindow::SetTimer(int id, unsigned intervalMs) {
  timers_[id] = Timer{intervalMs, backend_.Now() + std::chrono::milliseconds(intervalMs)};
}

void CHeadlessWindow::KillTimer(int id) {
  timers_.erase(id);
}

unsigned CHeadlessWindow::GetTimerInterval(int id) const {
  auto it = timers_.find(id);
  return it == timers_.end() ? 0 : it->second.interval;
}

bool CHeadlessWindow::FireTimer(int id) {
  if (timers_.count(id) == 0) return false;
  client_.OnHostTimer(id);
  return true;
}

std::optional<Clock::time_point> CHeadlessWindow::RunDueTimers() {
  Clock::time_point now = backend_.Now();
  std::vector<int> due;
  for (auto& [id, t] : timers_) {
    if (t.due <= now) due.push_back(id);
  }
  for (int id : due) {
    auto it = timers_.find(id);
    // Killed, or started again, by an earlier tick.
    if (it == timers_.end() || it->second.due > now) continue;
    // At least a millisecond on, so that a zero interval cannot hold a manual clock still.
    it->second.due = now + std::chrono::milliseconds(std::max(1u, it->second.interval));
    client_.OnHostTimer(id);
  }
  return NextDue();
}

std::optional<Clock::time_point> CHeadlessWindow::NextDue() const {
  std::optional<Clock::time_point> next;
  for (auto& [id, t] : timers_) {
    if (!next || t.due < *next) next = t.due;
  }
  return next;
}

void CHeadlessWindow::SetTaskbarValue(std::uint64_t completed, std::uint64_t total) {
  taskbarCompleted_ = completed;
  taskbarTotal_ = total;
}

cairo_surface_t* CHeadlessWindow::Render(int scale) {
  scale = std::max(1, scale);
  cairo_surface_t* surface =
      cairo_image_surface_create(CAIRO_FORMAT_ARGB32, size_.cx * scale, size_.cy * scale);
  // As a HiDPI window's surface does: the scale is the surface's, not the context's.
  cairo_surface_set_device_scale(surface, scale, scale);
  cairo_t* cr = cairo_create(surface);
  client_.OnHostPaint(cr);
  cairo_destroy(cr);
  cairo_surface_flush(surface);
  return surface;
}

bool CHeadlessWindow::SavePng(const std::string& path, int scale) {
  cairo_surface_t* s = Render(scale);
  bool ok = cairo_surface_write_to_png(s, path.c_str()) == CAIRO_STATUS_SUCCESS;
  cairo_surface_destroy(s);
  return ok;
}

void CHeadlessWindow::MouseMove(int x, int y) {
  client_.OnHostMouseMove(UiPoint{x, y});
}

void CHeadlessWindow::ButtonDown(int x, int y, unsigned modifiers) {
  HitArea area = client_.OnHostHitTest(UiPoint{x, y});
  if (area != HitArea::kClient) {
    // The window manager would move or resize the window from here.
    lastFrameDrag_ = area;
    pressInFrame_ = true;
    return;
  }
  pressInFrame_ = false;
  client_.OnHostButtonDown(UiPoint{x, y}, modifiers);
}

void CHeadlessWindow::ButtonUp(int x, int y, unsigned modifiers) {
  if (pressInFrame_) {
    pressInFrame_ = false;
    return;
  }
  client_.OnHostButtonUp(UiPoint{x, y}, modifiers);
}

void CHeadlessWindow::Click(int x, int y) {
  MouseMove(x, y);
  ButtonDown(x, y);
  ButtonUp(x, y);
}

void CHeadlessWindow::KeyPress(Key key, unsigned modifiers) {
  client_.OnHostKeyDown(key, modifiers);
}

void CHeadlessWindow::TypeText(const std::wstring& text) {
  for (wchar_t c : text) client_.OnHostChar(c);
}

void CHeadlessWindow::RequestClose() {
  client_.OnHostCloseRequest();
}

CHeadlessBackend::CHeadlessBackend() : uiThread_(std::this_thread::get_id()) {}

CHeadlessBackend::~CHeadlessBackend() = default;

std::unique_ptr<IHostWindow> CHeadlessBackend::CreateHostWindow(IHostWindowClient& client,
                                                                const HostWindowParams& params) {
  return std::make_unique<CHeadlessWindow>(*this, client, params);
}

void CHeadlessBackend::AddWindow(CHeadlessWindow* w) {
  std::lock_guard<std::mutex> lock(mutex_);
  windows_.push_back(w);
}

void CHeadlessBackend::RemoveWindow(CHeadlessWindow* w) {
  std::lock_guard<std::mutex> lock(mutex_);
  windows_.erase(std::remove(windows_.begin(), windows_.end(), w), windows_.end());
}

int CHeadlessBackend::RunOnce(Clock::time_point waitUntil, bool stopOnQuit) {
  int ran = 0;
  std::optional<Clock::time_point> nextTimer;
  std::vector<CHeadlessWindow*> windows;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    windows = windows_;
  }
  for (CHeadlessWindow* w : windows) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (std::find(windows_.begin(), windows_.end(), w) == windows_.end()) continue;
    }
    auto next = w->RunDueTimers();
    if (next && (!nextTimer || *next < *nextTimer)) nextTimer = next;
  }
  while (true) {
    std::function<void()> task;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      if (quit_ && stopOnQuit) break;  // the rest waits for the next loop, as on the real host
      if (queue_.empty()) {
        if (ran > 0 || (quit_ && stopOnQuit)) break;
        Clock::time_point until = waitUntil;
        // Manual time does not pass while waiting.
        if (nextTimer && !manualNow_ && *nextTimer < until) until = *nextTimer;
        if (until <= Clock::now()) break;
        wake_.wait_until(lock, until, [&] { return !queue_.empty() || (quit_ && stopOnQuit); });
        if (queue_.empty()) break;
      }
      task = std::move(queue_.front());
      queue_.pop_front();
    }
    task();
    ++ran;
  }
  return ran;
}

int CHeadlessBackend::RunLoop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    uiThread_ = std::this_thread::get_id();
    quit_ = false;
  }
  while (true) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (quit_) return quitCode_;
    }
    RunOnce(Clock::now() + std::chrono::milliseconds(50), true);
  }
}

void CHeadlessBackend::Quit(int code) {
  std::lock_guard<std::mutex> lock(mutex_);
  quit_ = true;
  quitCode_ = code;
  wake_.notify_all();
}

void CHeadlessBackend::Post(std::function<void()> task) {
  std::lock_guard<std::mutex> lock(mutex_);
  queue_.push_back(std::move(task));
  wake_.notify_all();
}

bool CHeadlessBackend::IsUiThread() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::this_thread::get_id() == uiThread_;
}

std::size_t CHeadlessBackend::PendingTasks() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return queue_.size();
}

int CHeadlessBackend::RunPending() {
  int total = 0;
  while (true) {
    int n = RunOnce(Clock::now(), false);
    if (n == 0) break;
    total += n;
  }
  return total;
}

bool CHeadlessBackend::RunUntil(const std::function<bool()>& done,
                                std::chrono::milliseconds timeout) {
  Clock::time_point end = Clock::now() + timeout;
  while (!done()) {
    if (Clock::now() >= end) return false;
    RunOnce(std::min(end, Clock::now() + std::chrono::milliseconds(20)), false);
  }
  return true;
}

void CHeadlessBackend::UseManualClock() {
  if (!manualNow_) manualNow_ = Clock::now();
}

Clock::time_point CHeadlessBackend::Now() const {
  return manualNow_ ? *manualNow_ : Clock::now();
}

void CHeadlessBackend::AdvanceClock(std::chrono::milliseconds step) {
  UseManualClock();
  const Clock::time_point target = *manualNow_ + step;
  while (true) {
    std::vector<CHeadlessWindow*> windows;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      windows = windows_;
    }
    std::optional<Clock::time_point> next;
    for (CHeadlessWindow* w : windows) {
      auto due = w->NextDue();
      if (due && (!next || *due < *next)) next = due;
    }
    if (!next || *next > target) break;
    manualNow_ = std::max(*manualNow_, *next);
    for (CHeadlessWindow* w : windows) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (std::find(windows_.begin(), windows_.end(), w) == windows_.end()) continue;
      }
      w->RunDueTimers();
    }
  }
  manualNow_ = target;
}

int CHeadlessBackend::MessageBox(IHostWindow* owner, const std::wstring& text,
                                 const std::wstring& caption, unsigned flags) {
  MessageBoxRequest req{text, caption, flags, owner != nullptr, IsUiThread(), {}};
  for (int id : MessageBoxButtons(flags)) req.buttons.push_back(MessageBoxButtonLabel(id));
  auto answer = [this, req]() {
    std::function<int(const MessageBoxRequest&)> f;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      boxes_.push_back(req);
      f = answerer_;
    }
    int r = f ? f(req) : MessageBoxDismissResult(req.flags);
    std::vector<int> allowed = MessageBoxButtons(req.flags);
    // A box can only answer with one of its own buttons.
    if (std::find(allowed.begin(), allowed.end(), r) == allowed.end()) {
      r = MessageBoxDismissResult(req.flags);
    }
    return r;
  };
  if (req.onUiThread) return answer();
  auto promise = std::make_shared<std::promise<int>>();
  std::future<int> result = promise->get_future();
  // The task holds the only promise: dropping it unanswered breaks the wait below.
  Post([promise = std::move(promise), answer] { promise->set_value(answer()); });
  try {
    return result.get();
  } catch (const std::future_error&) {
    return MessageBoxDismissResult(req.flags);  // the backend went away without showing it
  }
}

bool CHeadlessBackend::PickFolder(IHostWindow*, const std::wstring& title, std::wstring& folder) {
  std::function<bool(const std::wstring&, std::wstring&)> f;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    folderTitles_.push_back(title);
    f = folderAnswerer_;
  }
  return f && f(title, folder);
}

void CHeadlessBackend::SetMessageBoxAnswerer(std::function<int(const MessageBoxRequest&)> a) {
  std::lock_guard<std::mutex> lock(mutex_);
  answerer_ = std::move(a);
}

std::vector<MessageBoxRequest> CHeadlessBackend::GetMessageBoxes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return boxes_;
}

void CHeadlessBackend::SetFolderAnswerer(
    std::function<bool(const std::wstring&, std::wstring&)> f) {
  std::lock_guard<std::mutex> lock(mutex_);
  folderAnswerer_ = std::move(f);
}

std::vector<std::wstring> CHeadlessBackend::GetFolderPickerTitles() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return folderTitles_;
}

}  // namespace SkinUI
