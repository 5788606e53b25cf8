#include "ui/window/NativeWindow.h"

#include "platform/Resources.h"

namespace SkinUI {

CNativeWindow::CNativeWindow() : alive_(std::make_shared<bool>(true)) {}

CNativeWindow::~CNativeWindow() {
  *alive_ = false;
  host_.reset();
}

bool CNativeWindow::Create(const std::wstring& title, UiSize clientSize) {
  IHostBackend* backend = GetHostBackend();
  if (backend == nullptr || host_ != nullptr) return false;
  HostWindowParams params;
  params.title = title;
  params.clientSize = clientSize;
  params.className = GetWindowClassName();
  host_ = backend->CreateHostWindow(*this, params);
  if (!host_) return false;
  destroyed_ = false;
  return OnCreate();
}

void CNativeWindow::ShowWindow(bool show) {
  if (!IsWindow()) return;
  if (show)
    host_->Show();
  else
    host_->Hide();
}

void CNativeWindow::CenterWindow() {
  if (IsWindow()) host_->CenterOnWorkArea();
}

void CNativeWindow::ResizeClient(int cx, int cy) {
  if (IsWindow() && cx > 0 && cy > 0) host_->SetClientSize(UiSize{cx, cy});
}

void CNativeWindow::SetMinClientSize(int cx, int cy) {
  if (IsWindow()) host_->SetMinClientSize(UiSize{cx, cy});
}

UiSize CNativeWindow::GetClientSize() const {
  return host_ ? host_->GetClientSize() : UiSize{};
}

void CNativeWindow::Minimize() {
  if (IsWindow()) host_->Minimize();
}

void CNativeWindow::BringToFront() {
  if (IsWindow()) host_->Present();
}

void CNativeWindow::Maximize() {
  if (IsWindow()) host_->Maximize();
}

void CNativeWindow::Restore() {
  if (IsWindow()) host_->Restore();
}

void CNativeWindow::DestroyWindow() {
  if (!IsWindow()) return;
  host_->Hide();
  destroyed_ = true;
  HandleMessage(WM_DESTROY, 0, 0);
  // A modal loop ends with its window; a quit the destroy handler posted comes first.
  if (modal_) {
    if (IHostBackend* backend = GetHostBackend()) {
      backend->Post([] { PostQuitMessage(0); });
    }
  }
}

int CNativeWindow::ShowModal() {
  if (!IsWindow()) return -1;
  ShowWindow(true);
  modal_ = true;
  int code = MessageLoop();
  modal_ = false;
  return code;
}

LRESULT CNativeWindow::SendMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (host_ == nullptr || destroyed_) return 0;
  return HandleMessage(msg, wParam, lParam);
}

void CNativeWindow::PostMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  PostTask([this, msg, wParam, lParam] { SendMessage(msg, wParam, lParam); });
}

void CNativeWindow::PostTask(std::function<void()> task) {
  IHostBackend* backend = GetHostBackend();
  if (backend == nullptr) return;
  std::weak_ptr<bool> alive = alive_;
  backend->Post([alive, task = std::move(task)] {
    auto a = alive.lock();
    if (a && *a) task();
  });
}

bool CNativeWindow::SetTimer(int id, unsigned intervalMs) {
  AssertUiThread("SetTimer");
  if (!IsWindow()) return false;
  host_->SetTimer(id, intervalMs);
  return true;
}

void CNativeWindow::KillTimer(int id) {
  AssertUiThread("KillTimer");
  if (host_) host_->KillTimer(id);
}

int CNativeWindow::MessageBox(const std::wstring& text, const std::wstring& caption,
                              unsigned flags) {
  IHostBackend* backend = GetHostBackend();
  if (backend == nullptr) return MessageBoxDismissResult(flags);
  return backend->MessageBox(IsWindow() ? host_.get() : nullptr, text, caption, flags);
}

bool CNativeWindow::BrowseForFolder(const std::wstring& title, std::wstring& folder) {
  IHostBackend* backend = GetHostBackend();
  return backend != nullptr && backend->PickFolder(host_.get(), title, folder);
}

bool CNativeWindow::SetIconResource(int id) {
  platform::ResourceBytes res = platform::FindResource(platform::kResTypeIcon, id);
  return res && IsWindow() && host_->SetIcon(res.data, res.size);
}

void CNativeWindow::SetTaskbarState(TaskbarState state) {
  AssertUiThread("SetTaskbarState");
  if (IsWindow()) host_->SetTaskbarState(state);
}

void CNativeWindow::SetTaskbarValue(std::uint64_t completed, std::uint64_t total) {
  AssertUiThread("SetTaskbarValue");
  if (IsWindow()) host_->SetTaskbarValue(completed, total);
}

int CNativeWindow::MessageLoop() {
  IHostBackend* backend = GetHostBackend();
  return backend ? backend->RunLoop() : -1;
}

void CNativeWindow::PostQuitMessage(int code) {
  if (IHostBackend* backend = GetHostBackend()) backend->Quit(code);
}

LRESULT CNativeWindow::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_CLOSE:
      DestroyWindow();
      return 0;
    case WM_SYSCOMMAND:
      if (wParam == SC_MINIMIZE)
        Minimize();
      else if (wParam == SC_MAXIMIZE)
        Maximize();
      else if (wParam == SC_RESTORE)
        Restore();
      else if (wParam == SC_CLOSE)
        return HandleMessage(WM_CLOSE, 0, 0);
      return 0;
    default:
      return 0;
  }
}

void CNativeWindow::OnHostCloseRequest() {
  SendMessage(WM_CLOSE, 0, 0);
}

void CNativeWindow::OnHostTimer(int id) {
  SendMessage(WM_TIMER, static_cast<WPARAM>(id), 0);
}

}  // namespace SkinUI
