#include "ui/host/gtk/GtkHost.h"

#include <gtk/gtk.h>

#include <deque>
#include <future>
#include <mutex>
#include <thread>

#include "ui/core/Utf.h"
#include "ui/host/gtk/GtkHostWindow.h"

namespace SkinUI {
namespace {

const char* ButtonLabel(int id) {
  switch (id) {
    case IDOK:
      return "_OK";
    case IDCANCEL:
      return "_Cancel";
    case IDABORT:
      return "_Abort";
    case IDRETRY:
      return "_Retry";
    case IDIGNORE:
      return "_Ignore";
    case IDYES:
      return "_Yes";
    case IDNO:
      return "_No";
    default:
      return "_OK";
  }
}

GtkMessageType MessageTypeOf(unsigned flags) {
  switch (flags & MB_ICONMASK) {
    case MB_ICONERROR:
      return GTK_MESSAGE_ERROR;
    case MB_ICONQUESTION:
      return GTK_MESSAGE_QUESTION;
    case MB_ICONWARNING:
      return GTK_MESSAGE_WARNING;
    case MB_ICONINFORMATION:
      return GTK_MESSAGE_INFO;
    default:
      return GTK_MESSAGE_OTHER;
  }
}

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
    GtkWindow* parent = ParentOf(owner);
    GtkWidget* dialog = gtk_message_dialog_new(
        parent, static_cast<GtkDialogFlags>(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT),
        MessageTypeOf(flags), GTK_BUTTONS_NONE, "%s", ToUtf8(text).c_str());
    gtk_window_set_title(GTK_WINDOW(dialog), ToUtf8(caption).c_str());
    std::vector<int> buttons = MessageBoxButtons(flags);
    for (int id : buttons) gtk_dialog_add_button(GTK_DIALOG(dialog), ButtonLabel(id), id);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), buttons.front());
    if ((flags & MB_TYPEMASK) == MB_YESNO || (flags & MB_TYPEMASK) == MB_ABORTRETRYIGNORE) {
      // These boxes have no way out but their buttons (see below).
      gtk_window_set_deletable(GTK_WINDOW(dialog), FALSE);
    }
    if (flags & (MB_RTLREADING | MB_RIGHT)) {
      gtk_widget_set_direction(dialog, GTK_TEXT_DIR_RTL);
      GtkWidget* area = gtk_message_dialog_get_message_area(GTK_MESSAGE_DIALOG(dialog));
      GList* kids = gtk_container_get_children(GTK_CONTAINER(area));
      for (GList* k = kids; k; k = k->next) {
        gtk_widget_set_direction(GTK_WIDGET(k->data), GTK_TEXT_DIR_RTL);
        if (GTK_IS_LABEL(k->data)) gtk_label_set_xalign(GTK_LABEL(k->data), 1.0f);
      }
      g_list_free(kids);
    }
    if (flags & MB_SETFOREGROUND) gtk_window_set_keep_above(GTK_WINDOW(dialog), TRUE);
    gtk_window_set_position(GTK_WINDOW(dialog),
                            parent ? GTK_WIN_POS_CENTER_ON_PARENT : GTK_WIN_POS_CENTER);
    bool buttonsOnly =
        (flags & MB_TYPEMASK) == MB_YESNO || (flags & MB_TYPEMASK) == MB_ABORTRETRYIGNORE;
    g_object_ref(dialog);
    int response = gtk_dialog_run(GTK_DIALOG(dialog));
    // Escape or a close request does not answer a box that has no cancel choice.
    while (buttonsOnly && response == GTK_RESPONSE_DELETE_EVENT) {
      response = gtk_dialog_run(GTK_DIALOG(dialog));
    }
    gtk_widget_destroy(dialog);
    g_object_unref(dialog);
    for (int id : buttons) {
      if (id == response) return id;
    }
    return MessageBoxDismissResult(flags);
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
