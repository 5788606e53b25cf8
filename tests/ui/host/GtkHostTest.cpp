#include "ui/host/gtk/GtkHost.h"

#include <gio/gio.h>
#include <glib.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <array>
#include <atomic>
#include <cstdlib>
#include <thread>

#include "tests/ui/UiTestSupport.h"
#include "tests/ui/XvfbDisplay.h"
#include "ui/core/Utf.h"
#include "ui/host/gtk/GtkHostWindow.h"
#include "ui/host/gtk/LauncherEntry.h"

namespace SkinUI {
namespace {

using uitest::RecordingWindow;

uitest::XvfbDisplay* g_display = nullptr;

// One X display and one GTK initialisation for the whole binary (GTK cannot start twice).
class GtkEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    ASSERT_TRUE(kvtest::HaveProgram("Xvfb")) << "install xvfb (scripts/install-deps.sh)";
    ASSERT_TRUE(kvtest::HaveProgram("xdotool")) << "install xdotool (scripts/install-deps.sh)";
    display_ = std::make_unique<uitest::XvfbDisplay>();
    ASSERT_TRUE(display_->Start());
    g_display = display_.get();
    std::printf("X display %s\n", display_->name().c_str());
    std::fflush(stdout);
    setenv("DISPLAY", display_->name().c_str(), 1);
    unsetenv("WAYLAND_DISPLAY");
    setenv("GDK_BACKEND", "x11", 1);
    // The accessibility bridge's own bus connection outlives the test and reads as a leak.
    setenv("NO_AT_BRIDGE", "1", 1);
    // A private session bus, so that the taskbar signal has somewhere to go.
    std::string log = (logDir_ / "dbus.out").string();
    ASSERT_TRUE(bus_.Start({"dbus-daemon", "--session", "--nofork", "--print-address=1"}, log));
    for (int i = 0; i < 100 && busAddress_.empty(); ++i) {
      std::string out = kvtest::ReadFile(log);
      if (out.find('\n') != std::string::npos)
        busAddress_ = out.substr(0, out.find('\n'));
      else
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_FALSE(busAddress_.empty());
    setenv("DBUS_SESSION_BUS_ADDRESS", busAddress_.c_str(), 1);
    backend_ = CreateGtkBackend(nullptr, nullptr);
    ASSERT_NE(backend_, nullptr);
    SetHostBackend(backend_);
  }
  void TearDown() override {
    SetHostBackend(nullptr);
    backend_.reset();
    bus_.Stop();
    display_.reset();
    g_display = nullptr;
  }
  static std::string busAddress_;

 private:
  kvtest::TempDir logDir_;
  std::unique_ptr<uitest::XvfbDisplay> display_;
  kvtest::ChildProcess bus_;
  std::shared_ptr<IHostBackend> backend_;
};
std::string GtkEnvironment::busAddress_;

bool PumpUntil(const std::function<bool()>& done,
               std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
  auto end = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    if (!g_main_context_iteration(nullptr, FALSE)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  return true;
}

void PumpFor(std::chrono::milliseconds d) {
  PumpUntil([] { return false; }, d);
}

bool Contains(const std::vector<std::wstring>& v, const std::wstring& s) {
  return std::find(v.begin(), v.end(), s) != v.end();
}

class GtkHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window_ = std::make_unique<RecordingWindow>(UILIB_ZIPRESOURCE, L"", L"skin.xml");
    ASSERT_TRUE(window_->Create(L"KVDownloader")) << window_->loadError;
    window_->CenterWindow();
    window_->ShowWindow();
    ASSERT_TRUE(PumpUntil([&] {
      xid_ = uitest::RunX(*g_display, "xdotool search --onlyvisible --name '^KVDownloader$'");
      return !xid_.empty();
    }));
    PumpFor(std::chrono::milliseconds(200));
  }
  void TearDown() override {
    window_.reset();
    PumpFor(std::chrono::milliseconds(50));
  }
  std::string Geometry() {
    PumpFor(std::chrono::milliseconds(100));
    return uitest::RunX(*g_display, "xdotool getwindowgeometry " + xid_);
  }

  std::unique_ptr<RecordingWindow> window_;
  std::string xid_;
};

TEST_F(GtkHostTest, RealWindowOpensCentredAtTheSkinSize) {
  std::string g = Geometry();
  EXPECT_NE(g.find("Geometry: 650x360"), std::string::npos) << g;
  // No window manager here, so the work area is the whole 1280 x 1024 screen.
  EXPECT_NE(g.find("Position: 315,332"), std::string::npos) << g;
  EXPECT_TRUE(window_->SetIconResource(101));
  window_->ResizeClient(650, 435);
  EXPECT_TRUE(PumpUntil([&] { return Geometry().find("650x435") != std::string::npos; }));
  EXPECT_EQ(window_->GetClientSize().cy, 435);
  EXPECT_EQ(window_->GetPaintManager().GetClientSize().cy, 435);
}

TEST_F(GtkHostTest, TheSizeBoxResizesButNotBelowTheSkinSize) {
  // Dragging the bottom-right corner outwards grows the window...
  uitest::RunX(*g_display, "xdotool mousemove --window " + xid_ +
                               " 648 358 mousedown 1 mousemove_relative --sync 40 30");
  PumpFor(std::chrono::milliseconds(200));
  uitest::RunX(*g_display, "xdotool mouseup 1");
  EXPECT_TRUE(PumpUntil([&] { return Geometry().find("690x390") != std::string::npos; }))
      << Geometry();
  // ...inwards it stops at the skin's size, and so does a resize by the program.
  uitest::RunX(*g_display, "xdotool mousemove --window " + xid_ +
                               " 688 388 mousedown 1 mousemove_relative --sync -- -300 -200");
  PumpFor(std::chrono::milliseconds(200));
  uitest::RunX(*g_display, "xdotool mouseup 1");
  EXPECT_TRUE(PumpUntil([&] { return Geometry().find("650x360") != std::string::npos; }))
      << Geometry();
  window_->ResizeClient(300, 200);
  PumpFor(std::chrono::milliseconds(200));
  EXPECT_NE(Geometry().find("650x360"), std::string::npos) << Geometry();
  EXPECT_EQ(window_->GetClientSize().cx, 650);
  EXPECT_EQ(window_->GetPaintManager().GetClientSize().cy, 360);
}

TEST_F(GtkHostTest, CtrlVAndShiftInsertPasteTheClipboardIntoTheFocusedEdit) {
  CPaintManagerUI& pm = window_->GetPaintManager();
  pm.FindControl(L"bottomLayout")->SetAttribute(L"visible", L"true");
  window_->ResizeClient(650, 435);
  CControlUI* edit = pm.FindControl(L"edit_path");
  ASSERT_NE(edit, nullptr);
  edit->SetText(L"/opt/");
  pm.SetFocus(edit);
  GtkClipboard* clipboard = gtk_clipboard_get(GDK_SELECTION_CLIPBOARD);
  gtk_clipboard_set_text(clipboard, "Kv\tзагрузка\n", -1);
  PumpFor(std::chrono::milliseconds(100));
  window_->TakeEvents();
  uitest::RunX(*g_display, "xdotool windowfocus --sync " + xid_ + " key ctrl+v");
  EXPECT_TRUE(PumpUntil([&] { return edit->GetText() == L"/opt/Kvзагрузка"; }))
      << ToUtf8(edit->GetText());
  uitest::RunX(*g_display, "xdotool windowfocus --sync " + xid_ + " key shift+Insert");
  EXPECT_TRUE(PumpUntil([&] { return edit->GetText() == L"/opt/KvзагрузкаKvзагрузка"; }))
      << ToUtf8(edit->GetText());
  bool changed = false;
  for (auto& e : window_->events) changed = changed || e.type == L"textchanged";
  EXPECT_TRUE(changed);
  // A plain "v" is still just typed.
  uitest::RunX(*g_display, "xdotool windowfocus --sync " + xid_ + " key v");
  EXPECT_TRUE(PumpUntil([&] { return edit->GetText() == L"/opt/KvзагрузкаKvзагрузкаv"; }))
      << ToUtf8(edit->GetText());
}

TEST_F(GtkHostTest, InjectedClickOnTheFoldBoxReachesTheHandler) {
  window_->TakeEvents();
  uitest::RunX(*g_display, "xdotool mousemove --window " + xid_ + " 529 336 click 1");
  ASSERT_TRUE(PumpUntil([&] {
    for (auto& e : window_->events) {
      if (e.type == L"selectchanged") return true;
    }
    return false;
  }));
  std::vector<std::wstring> events = window_->TakeEvents();
  auto click = std::find(events.begin(), events.end(), L"click:chk_fold");
  ASSERT_NE(click, events.end());
  EXPECT_EQ(*(click + 1), L"selectchanged:chk_fold");
  // A press on the caption moves the window instead of reaching a control.
  uitest::RunX(*g_display, "xdotool mousemove --window " + xid_ + " 300 100 click 1");
  PumpFor(std::chrono::milliseconds(300));
  events = window_->TakeEvents();
  EXPECT_FALSE(Contains(events, L"click:btn_install")) << events.size();
  for (auto& e : events) EXPECT_NE(e.substr(0, 6), L"click:");
  // Keyboard: Tab to the first button and Space clicks it.
  uitest::RunX(*g_display, "xdotool windowfocus --sync " + xid_ + " key Tab space");
  EXPECT_TRUE(PumpUntil([&] {
    for (auto& e : window_->events) {
      if (e.type == L"click") return e.sender == L"minbtn";
    }
    return false;
  }));
}

TEST_F(GtkHostTest, MessageBoxAnswerComesBackToTheWorker) {
  std::atomic<int> result{0};
  std::atomic<bool> done{false};
  std::atomic<bool> stillOpenAfterEscape{false};
  std::thread worker([&] {
    result =
        window_->MessageBox(L"Proceed with the test?", L"KV Question", MB_YESNO | MB_ICONQUESTION);
    done = true;
  });
  std::thread user([&] {
    std::string box = uitest::FindXWindow(*g_display, "^KV Question$", std::chrono::seconds(10));
    if (box.empty()) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    // Escape does not answer a Yes/No box; only its buttons do.
    uitest::RunX(*g_display, "xdotool windowfocus --sync " + box + " key Escape");
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    stillOpenAfterEscape =
        !uitest::RunX(*g_display, "xdotool search --onlyvisible --name '^KV Question$'").empty();
    uitest::RunX(*g_display, "xdotool windowfocus --sync " + box + " key alt+n");
  });
  bool answered = PumpUntil([&] { return done.load(); }, std::chrono::seconds(20));
  user.join();
  if (!answered) {
    // Do not leave the worker blocked: close the box from here.
    std::string box = uitest::RunX(*g_display, "xdotool search --name '^KV Question$'");
    uitest::RunX(*g_display, "xdotool windowfocus --sync " + box + " key alt+y");
    PumpUntil([&] { return done.load(); }, std::chrono::seconds(5));
  }
  worker.join();
  ASSERT_TRUE(answered);
  EXPECT_TRUE(stillOpenAfterEscape);
  EXPECT_EQ(result, IDNO);
}

// With KV_SHOTS=DIR set, what the screen shows is saved there for a person to look at.
void SaveScreen(const std::string& name) {
  if (const char* dir = getenv("KV_SHOTS")) {
    uitest::RunX(*g_display, "import -window root " + std::string(dir) + "/" + name);
  }
}

// The dialog of that title among the toplevels, once it is on screen.
GtkWidget* FindDialog(const char* title) {
  GList* all = gtk_window_list_toplevels();
  GtkWidget* found = nullptr;
  for (GList* w = all; w; w = w->next) {
    const char* t = gtk_window_get_title(GTK_WINDOW(w->data));
    if (GTK_IS_DIALOG(w->data) && t && std::string(t) == title &&
        gtk_widget_get_mapped(GTK_WIDGET(w->data))) {
      found = GTK_WIDGET(w->data);
    }
  }
  g_list_free(all);
  return found;
}

// The first widget of a type below w (w itself included).
GtkWidget* FindChild(GtkWidget* w, GType type) {
  if (G_TYPE_CHECK_INSTANCE_TYPE(w, type)) return w;
  if (!GTK_IS_CONTAINER(w)) return nullptr;
  GList* kids = gtk_container_get_children(GTK_CONTAINER(w));
  GtkWidget* found = nullptr;
  for (GList* k = kids; k && !found; k = k->next) found = FindChild(GTK_WIDGET(k->data), type);
  g_list_free(kids);
  return found;
}

// Clicks a widget of a shown dialog with a real pointer event.
void ClickWidget(GtkWidget* w) {
  GtkWidget* top = gtk_widget_get_toplevel(w);
  int x = 0, y = 0, ox = 0, oy = 0;
  gtk_widget_translate_coordinates(w, top, gtk_widget_get_allocated_width(w) / 2,
                                   gtk_widget_get_allocated_height(w) / 2, &x, &y);
  gdk_window_get_origin(gtk_widget_get_window(top), &ox, &oy);
  uitest::RunX(*g_display, "xdotool mousemove " + std::to_string(ox + x) + " " +
                               std::to_string(oy + y) + " click 1");
}

// Steps run one after another on the UI thread, one per tick, inside whatever loop runs (a
// message box's own loop included); a step that returns false is tried again at the next tick.
class UiScript {
 public:
  explicit UiScript(std::vector<std::function<bool()>> steps) : steps_(std::move(steps)) {
    source_ = g_timeout_add(150, &UiScript::Tick, this);
  }
  ~UiScript() {
    if (!finished()) g_source_remove(source_);
  }
  bool finished() const { return next_ >= steps_.size(); }

 private:
  static gboolean Tick(gpointer p) {
    auto* self = static_cast<UiScript*>(p);
    if (self->steps_[self->next_]()) ++self->next_;
    return self->finished() ? G_SOURCE_REMOVE : G_SOURCE_CONTINUE;
  }
  std::vector<std::function<bool()>> steps_;
  std::size_t next_ = 0;
  guint source_ = 0;
};

int LeftIn(GtkWidget* w, GtkWidget* top) {
  int x = 0, y = 0;
  gtk_widget_translate_coordinates(w, top, 0, 0, &x, &y);
  return x;
}

TEST_F(GtkHostTest, MessageBoxSpeaksTheUiLanguageAndMirrorsItsButtonsRightToLeft) {
  SetMessageBoxButtonLabels({{IDABORT, L"Abbrechen"},
                             {IDRETRY, L"Wiederholen"},
                             {IDIGNORE, L"Über_springen"},
                             {IDOK, L""}});
  std::atomic<int> result{0};
  std::atomic<bool> done{false};
  std::thread worker([&] {
    result = window_->MessageBox(L"Netzwerkfehler.", L"KV Network",
                                 MB_ABORTRETRYIGNORE | MB_ICONWARNING | MB_RTLREADING | MB_RIGHT);
    done = true;
  });
  GtkWidget* box = nullptr;
  bool escapeIgnored = false;
  UiScript script({
      [&] { return (box = FindDialog("KV Network")) != nullptr; },
      [&] {
        GtkDialog* dialog = GTK_DIALOG(box);
        GtkWidget* abort = gtk_dialog_get_widget_for_response(dialog, IDABORT);
        GtkWidget* retry = gtk_dialog_get_widget_for_response(dialog, IDRETRY);
        GtkWidget* ignore = gtk_dialog_get_widget_for_response(dialog, IDIGNORE);
        EXPECT_TRUE(abort && retry && ignore);
        if (!abort || !retry || !ignore) return true;
        EXPECT_STREQ(gtk_button_get_label(GTK_BUTTON(abort)), "Abbrechen");
        EXPECT_STREQ(gtk_button_get_label(GTK_BUTTON(retry)), "Wiederholen");
        // An underscore of a translated label is a letter, not a mnemonic mark.
        GtkWidget* ignoreText = FindChild(ignore, GTK_TYPE_LABEL);
        EXPECT_TRUE(ignoreText &&
                    std::string(gtk_label_get_text(GTK_LABEL(ignoreText))) == "Über_springen");
        // Right to left: the first button is the rightmost one.
        EXPECT_GT(LeftIn(abort, box), LeftIn(retry, box));
        EXPECT_GT(LeftIn(retry, box), LeftIn(ignore, box));
        // The text can be selected and copied; the kind's icon stands before it (on its right).
        GtkWidget* text = FindChild(gtk_dialog_get_content_area(dialog), GTK_TYPE_LABEL);
        GtkWidget* icon = FindChild(gtk_dialog_get_content_area(dialog), GTK_TYPE_DRAWING_AREA);
        EXPECT_TRUE(text && icon);
        if (text && icon) {
          EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(text)), "Netzwerkfehler.");
          EXPECT_TRUE(gtk_label_get_selectable(GTK_LABEL(text)));
          EXPECT_EQ(gtk_widget_get_direction(text), GTK_TEXT_DIR_RTL);
          EXPECT_GT(LeftIn(icon, box), LeftIn(text, box));
        }
        std::string xid = uitest::FindXWindow(*g_display, "^KV Network$", std::chrono::seconds(5));
        SaveScreen("box_rtl.png");
        uitest::RunX(*g_display, "xdotool windowfocus --sync " + xid + " key Escape");
        return true;
      },
      [&] { return true; },  // give the Escape time to arrive
      [&] {
        escapeIgnored = FindDialog("KV Network") != nullptr && !done;
        ClickWidget(gtk_dialog_get_widget_for_response(GTK_DIALOG(box), IDRETRY));
        return true;
      },
  });
  bool answered = PumpUntil([&] { return done.load(); }, std::chrono::seconds(20));
  if (!answered && FindDialog("KV Network")) {
    gtk_dialog_response(GTK_DIALOG(FindDialog("KV Network")), IDRETRY);
  }
  PumpUntil([&] { return done.load(); }, std::chrono::seconds(5));
  worker.join();
  EXPECT_TRUE(answered);
  EXPECT_TRUE(escapeIgnored);
  EXPECT_EQ(result, IDRETRY);

  // Left to right, with the English default for a label left empty; Escape answers Cancel.
  done = false;
  std::thread worker2([&] {
    result = window_->MessageBox(L"Close it?", L"KV Plain", MB_OKCANCEL | MB_ICONQUESTION);
    done = true;
  });
  UiScript script2({
      [&] { return (box = FindDialog("KV Plain")) != nullptr; },
      [&] {
        GtkWidget* ok = gtk_dialog_get_widget_for_response(GTK_DIALOG(box), IDOK);
        GtkWidget* cancel = gtk_dialog_get_widget_for_response(GTK_DIALOG(box), IDCANCEL);
        EXPECT_TRUE(ok && cancel);
        if (!ok || !cancel) return true;
        EXPECT_STREQ(gtk_button_get_label(GTK_BUTTON(ok)), "_OK");
        EXPECT_LT(LeftIn(ok, box), LeftIn(cancel, box));
        EXPECT_TRUE(gtk_widget_has_focus(ok));
        std::string xid = uitest::FindXWindow(*g_display, "^KV Plain$", std::chrono::seconds(5));
        SaveScreen("box_ltr.png");
        uitest::RunX(*g_display, "xdotool windowfocus --sync " + xid + " key Escape");
        return true;
      },
  });
  answered = PumpUntil([&] { return done.load(); }, std::chrono::seconds(20));
  if (!answered && FindDialog("KV Plain")) {
    gtk_dialog_response(GTK_DIALOG(FindDialog("KV Plain")), IDOK);
  }
  PumpUntil([&] { return done.load(); }, std::chrono::seconds(5));
  worker2.join();
  SetMessageBoxButtonLabels({});
  EXPECT_TRUE(answered);
  EXPECT_EQ(result, IDCANCEL);
}

TEST_F(GtkHostTest, FolderPickerOpensWithItsTitleAndCancelLeavesTheFolder) {
  std::atomic<bool> seen{false};
  std::thread user([&] {
    std::string box = uitest::FindXWindow(*g_display, "^Pick a folder$", std::chrono::seconds(15));
    if (box.empty()) return;
    seen = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    uitest::RunX(*g_display, "xdotool windowfocus --sync " + box + " key Escape");
  });
  std::wstring folder = L"/unchanged";
  bool picked = window_->BrowseForFolder(L"Pick a folder", folder);
  user.join();
  EXPECT_TRUE(seen);
  EXPECT_FALSE(picked);
  EXPECT_EQ(folder, L"/unchanged");
}

TEST_F(GtkHostTest, TimersAndPostedMessagesRunOnTheGtkLoop) {
  window_->SetTimer(12, 5000);
  window_->SetTimer(12, 20);
  std::thread worker([&] {
    for (WPARAM i = 0; i < 20; ++i) window_->PostMessage(WM_USER + 5, i, 0);
  });
  worker.join();
  ASSERT_TRUE(PumpUntil([&] {
    int timers = 0;
    for (auto& m : window_->messages) timers += m.first == WM_TIMER;
    return timers >= 3;
  }));
  window_->KillTimer(12);
  std::vector<WPARAM> posted;
  for (auto& m : window_->messages) {
    if (m.first == WM_USER + 5) posted.push_back(m.second);
  }
  ASSERT_EQ(posted.size(), 20u);
  for (WPARAM i = 0; i < 20; ++i) EXPECT_EQ(posted[i], i);
  std::size_t seen = window_->messages.size();
  PumpFor(std::chrono::milliseconds(100));
  EXPECT_EQ(window_->messages.size(), seen);
}

TEST_F(GtkHostTest, TaskbarProgressGoesOutAsALauncherEntrySignal) {
  GError* err = nullptr;
  GDBusConnection* bus = g_dbus_connection_new_for_address_sync(
      GtkEnvironment::busAddress_.c_str(),
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, &err);
  ASSERT_NE(bus, nullptr) << (err ? err->message : "");
  struct Seen {
    double progress = -1;
    bool visible = false;
    bool urgent = false;
    int count = 0;
  } seen;
  guint sub = g_dbus_connection_signal_subscribe(
      bus, nullptr, "com.canonical.Unity.LauncherEntry", "Update", nullptr, nullptr,
      G_DBUS_SIGNAL_FLAGS_NONE,
      [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* params,
         gpointer p) {
        auto* s = static_cast<Seen*>(p);
        const gchar* uri = nullptr;
        GVariant* props = nullptr;
        g_variant_get(params, "(&s@a{sv})", &uri, &props);
        g_variant_lookup(props, "progress", "d", &s->progress);
        gboolean v = FALSE, u = FALSE;
        g_variant_lookup(props, "progress-visible", "b", &v);
        g_variant_lookup(props, "urgent", "b", &u);
        s->visible = v;
        s->urgent = u;
        ++s->count;
        g_variant_unref(props);
      },
      &seen, nullptr);
  PumpFor(std::chrono::milliseconds(100));
  window_->SetTaskbarState(TaskbarState::kNormal);
  window_->SetTaskbarValue(42, 100);
  EXPECT_TRUE(PumpUntil([&] { return seen.count >= 2; }));
  EXPECT_DOUBLE_EQ(seen.progress, 0.42);
  EXPECT_TRUE(seen.visible);
  EXPECT_FALSE(seen.urgent);
  // The window icon carries the state's badge in its lower corner: red for an error, amber for
  // a pause; an error also asks for attention, a pause does not.
  ASSERT_TRUE(window_->SetIconResource(101));
  GtkWindow* gw = static_cast<CGtkHostWindow*>(window_->GetHostWindow())->gtkWindow();
  auto badgePixel = [&] {
    GdkPixbuf* icon = gtk_window_get_icon(gw);
    if (const char* dir = getenv("KV_SHOTS")) {
      std::string path = std::string(dir) + "/icon" + std::to_string(seen.count) + ".png";
      gdk_pixbuf_save(icon, path.c_str(), "png", nullptr, nullptr);
    }
    int w = gdk_pixbuf_get_width(icon), h = gdk_pixbuf_get_height(icon);
    // Inside the badge, beside its mark.
    int x = w - w * 40 / 100, y = h - h * 26 / 100;
    const guchar* p = gdk_pixbuf_get_pixels(icon) + y * gdk_pixbuf_get_rowstride(icon) +
                      x * gdk_pixbuf_get_n_channels(icon);
    return std::array<int, 3>{p[0], p[1], p[2]};
  };
  std::array<int, 3> plain = badgePixel();
  window_->SetTaskbarState(TaskbarState::kError);
  EXPECT_TRUE(PumpUntil([&] { return seen.count >= 3; }));
  EXPECT_TRUE(seen.urgent);
  EXPECT_TRUE(gtk_window_get_urgency_hint(gw));
  std::array<int, 3> error = badgePixel();
  EXPECT_GT(error[0], 180);
  EXPECT_LT(error[1], 90);
  window_->SetTaskbarState(TaskbarState::kPaused);
  EXPECT_TRUE(PumpUntil([&] { return seen.count >= 4; }));
  EXPECT_FALSE(seen.urgent);
  EXPECT_TRUE(seen.visible);
  EXPECT_DOUBLE_EQ(seen.progress, 0.42);
  EXPECT_FALSE(gtk_window_get_urgency_hint(gw));
  std::array<int, 3> paused = badgePixel();
  EXPECT_GT(paused[0], 200);
  EXPECT_GT(paused[1], 140);
  EXPECT_LT(paused[2], 80);
  window_->SetTaskbarState(TaskbarState::kNoProgress);
  EXPECT_TRUE(PumpUntil([&] { return seen.count >= 5; }));
  EXPECT_FALSE(seen.visible);
  EXPECT_EQ(badgePixel(), plain);
  g_dbus_connection_signal_unsubscribe(bus, sub);
  g_object_unref(bus);

  // Without a session bus the indicator quietly does nothing.
  std::string address = GtkEnvironment::busAddress_;
  unsetenv("DBUS_SESSION_BUS_ADDRESS");
  {
    CLauncherEntry none("application://kvtest.desktop");
    EXPECT_FALSE(none.IsConnected());
    none.Update(0.5, true, false);
  }
  setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
}

}  // namespace
}  // namespace SkinUI

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new SkinUI::GtkEnvironment);
  return RUN_ALL_TESTS();
}
