#include "ui/host/gtk/GtkHost.h"

#include <gtk/gtk.h>

#include <deque>
#include <future>
#include <mutex>
#include <thread>

#include "ui/core/Utf.h"
#include "ui/host/gtk/GtkHostWindow.h"
#include "ui/host/gtk/GtkMessageBox.h"

namespace SkinUI {
namespace {

GtkWindow* ParentOf(IHostWindow* owner) {
  return CGtkHostWindow::LiveGtkWindow(owner);
}

class CGtkBackend : public IHostBackend {
 public:
  CGtkBackend() : uiThread_(std::this_thread::get_id()), loop_(g_main_loop_new(nullptr, FALSE)) {}
  ~CGtkBackend() override {
    // Idle sources still queued would run on a backend that is gone.
    while (g_idle_remove_by_data(this)) {
    }
    g_main_loop_unref(loop_);
  }

  std::unique_ptr<IHostWindow> CreateHostWindow(IHostWindowClient& client,
                                                const HostWindowParams& params) override {
    return std::make_unique<CGtkHostWindow>(client, params);
  }

  int RunLoop() override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (quitRequested_) {
        quitRequested_ = false;
        return quitCode_;
      }
    }
    g_main_loop_run(loop_);
    std::lock_guard<std::mutex> lock(mutex_);
    quitRequested_ = false;
    return quitCode_;
  }

  void Quit(int code) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      quitCode_ = code;
      quitRequested_ = true;
    }
    // Thread-safe in GLib; a loop not yet running sees quitRequested_ instead.
    g_main_loop_quit(loop_);
  }

  void Post(std::function<void()> task) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      queue_.push_back(std::move(task));
    }
    // One idle source per task, each running the oldest task: order holds even when a task
    // runs a nested loop (a dialog) that dispatches the later ones.
    g_idle_add_full(G_PRIORITY_DEFAULT, &CGtkBackend::RunOne, this, nullptr);
  }

  bool IsUiThread() const override { return std::this_thread::get_id() == uiThread_; }

  int MessageBox(IHostWindow* owner, const std::wstring& text, const std::wstring& caption,
                 unsigned flags) override {
    if (IsUiThread()) return RunMessageBox(owner, text, caption, flags);
    auto promise = std::make_shared<std::promise<int>>();
    std::future<int> result = promise->get_future();
    // The task holds the only promise: dropping it unanswered breaks the wait below.
    Post([promise = std::move(promise), owner, text, caption, flags] {
      promise->set_value(RunMessageBox(owner, text, caption, flags));
    });
    try {
      return result.get();
    } catch (const std::future_error&) {
      return MessageBoxDismissResult(flags);  // the UI thread went away without showing it
    }
  }

  bool PickFolder(IHostWindow* owner, const std::wstring& title, std::wstring& folder) override {
    GtkFileChooserNative* chooser =
        gtk_file_chooser_native_new(ToUtf8(title).c_str(), ParentOf(owner),
                                    GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER, "_Select", "_Cancel");
    gtk_native_dialog_set_modal(GTK_NATIVE_DIALOG(chooser), TRUE);
    bool ok = false;
    if (gtk_native_dialog_run(GTK_NATIVE_DIALOG(chooser)) == GTK_RESPONSE_ACCEPT) {
      if (char* name = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(chooser))) {
        folder = FromUtf8(name);
        g_free(name);
        ok = true;
      }
    }
    g_object_unref(chooser);
    return ok;
  }

 private:
  static gboolean RunOne(gpointer p) {
    auto* self = static_cast<CGtkBackend*>(p);
    std::function<void()> task;
    {
      std::lock_guard<std::mutex> lock(self->mutex_);
      if (self->queue_.empty()) return G_SOURCE_REMOVE;
      task = std::move(self->queue_.front());
      self->queue_.pop_front();
    }
    task();
    return G_SOURCE_REMOVE;
  }

  static int RunMessageBox(IHostWindow* owner, const std::wstring& text,
                           const std::wstring& caption, unsigned flags) {
    return RunGtkMessageBox(ParentOf(owner), text, caption, flags);
  }

  std::thread::id uiThread_;
  GMainLoop* loop_;
  std::mutex mutex_;
  std::deque<std::function<void()>> queue_;
  bool quitRequested_ = false;
  int quitCode_ = 0;
};

}  // namespace

std::shared_ptr<IHostBackend> CreateGtkBackend(int* argc, char*** argv) {
  if (!gtk_init_check(argc, argv)) return nullptr;
  return std::make_shared<CGtkBackend>();
}

}  // namespace SkinUI
