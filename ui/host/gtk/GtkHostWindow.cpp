#include "ui/host/gtk/GtkHostWindow.h"

#include <gtk/gtk.h>

#include <algorithm>
#include <set>

#include "ui/core/Utf.h"
#include "ui/host/gtk/GtkAccessibility.h"
#include "ui/host/gtk/TaskbarBadge.h"
#include "ui/render/ImageCache.h"

namespace SkinUI {
namespace {

struct TimerData {
  IHostWindowClient* client;
  std::map<int, unsigned>* timers;
  int id;
};

bool IsPaste(guint keyval, unsigned mods) {
  bool ctrlV = (keyval == GDK_KEY_v || keyval == GDK_KEY_V) && (mods & kModControl) != 0 &&
               (mods & kModAlt) == 0;
  bool shiftInsert = (keyval == GDK_KEY_Insert || keyval == GDK_KEY_KP_Insert) &&
                     (mods & kModShift) != 0 && (mods & (kModControl | kModAlt)) == 0;
  return ctrlV || shiftInsert;
}

Key MapKey(guint keyval) {
  switch (keyval) {
    case GDK_KEY_Tab:
    case GDK_KEY_ISO_Left_Tab:
    case GDK_KEY_KP_Tab:
      return Key::kTab;
    case GDK_KEY_Return:
    case GDK_KEY_KP_Enter:
      return Key::kReturn;
    case GDK_KEY_space:
    case GDK_KEY_KP_Space:
      return Key::kSpace;
    case GDK_KEY_Escape:
      return Key::kEscape;
    case GDK_KEY_BackSpace:
      return Key::kBack;
    case GDK_KEY_Delete:
    case GDK_KEY_KP_Delete:
      return Key::kDelete;
    case GDK_KEY_Left:
    case GDK_KEY_KP_Left:
      return Key::kLeft;
    case GDK_KEY_Right:
    case GDK_KEY_KP_Right:
      return Key::kRight;
    case GDK_KEY_Home:
    case GDK_KEY_KP_Home:
      return Key::kHome;
    case GDK_KEY_End:
    case GDK_KEY_KP_End:
      return Key::kEnd;
    default:
      return Key::kOther;
  }
}

unsigned MapModifiers(guint state) {
  unsigned m = kModNone;
  if (state & GDK_SHIFT_MASK) m |= kModShift;
  if (state & GDK_CONTROL_MASK) m |= kModControl;
  if (state & GDK_MOD1_MASK) m |= kModAlt;
  return m;
}

bool EdgeOf(HitArea area, GdkWindowEdge& edge) {
  switch (area) {
    case HitArea::kLeft:
      edge = GDK_WINDOW_EDGE_WEST;
      return true;
    case HitArea::kRight:
      edge = GDK_WINDOW_EDGE_EAST;
      return true;
    case HitArea::kTop:
      edge = GDK_WINDOW_EDGE_NORTH;
      return true;
    case HitArea::kBottom:
      edge = GDK_WINDOW_EDGE_SOUTH;
      return true;
    case HitArea::kTopLeft:
      edge = GDK_WINDOW_EDGE_NORTH_WEST;
      return true;
    case HitArea::kTopRight:
      edge = GDK_WINDOW_EDGE_NORTH_EAST;
      return true;
    case HitArea::kBottomLeft:
      edge = GDK_WINDOW_EDGE_SOUTH_WEST;
      return true;
    case HitArea::kBottomRight:
      edge = GDK_WINDOW_EDGE_SOUTH_EAST;
      return true;
    default:
      return false;
  }
}

const char* CursorFor(HitArea area) {
  switch (area) {
    case HitArea::kLeft:
      return "w-resize";
    case HitArea::kRight:
      return "e-resize";
    case HitArea::kTop:
      return "n-resize";
    case HitArea::kBottom:
      return "s-resize";
    case HitArea::kTopLeft:
      return "nw-resize";
    case HitArea::kTopRight:
      return "ne-resize";
    case HitArea::kBottomLeft:
      return "sw-resize";
    case HitArea::kBottomRight:
      return "se-resize";
    default:
      return nullptr;
  }
}

UiPoint PointOf(double x, double y) {
  return UiPoint{static_cast<int>(x), static_cast<int>(y)};
}

}  // namespace

struct CGtkHostWindow::Callbacks {
  static gboolean Draw(GtkWidget*, cairo_t* cr, gpointer p) {
    static_cast<CGtkHostWindow*>(p)->client_.OnHostPaint(cr);
    return TRUE;
  }
  static void SizeAllocate(GtkWidget*, GdkRectangle* a, gpointer p) {
    auto* w = static_cast<CGtkHostWindow*>(p);
    if (a->width != w->size_.cx || a->height != w->size_.cy) {
      w->size_ = UiSize{a->width, a->height};
      w->client_.OnHostResize(w->size_);
    }
  }
  static gboolean ButtonPress(GtkWidget*, GdkEventButton* e, gpointer p) {
    auto* w = static_cast<CGtkHostWindow*>(p);
    // Presses arrive once each; the extra double-click event would only repeat one.
    if (e->type != GDK_BUTTON_PRESS || e->button != 1) return TRUE;
    gtk_widget_grab_focus(w->area_);
    UiPoint pt = PointOf(e->x, e->y);
    HitArea area = w->client_.OnHostHitTest(pt);
    GdkWindowEdge edge;
    if (area == HitArea::kCaption) {
      w->pressInFrame_ = true;
      gtk_window_begin_move_drag(GTK_WINDOW(w->window_), static_cast<gint>(e->button),
                                 static_cast<gint>(e->x_root), static_cast<gint>(e->y_root),
                                 e->time);
      return TRUE;
    }
    if (EdgeOf(area, edge)) {
      w->pressInFrame_ = true;
      gtk_window_begin_resize_drag(GTK_WINDOW(w->window_), edge, static_cast<gint>(e->button),
                                   static_cast<gint>(e->x_root), static_cast<gint>(e->y_root),
                                   e->time);
      return TRUE;
    }
    w->pressInFrame_ = false;
    w->client_.OnHostButtonDown(pt, MapModifiers(e->state));
    return TRUE;
  }
  static gboolean ButtonRelease(GtkWidget*, GdkEventButton* e, gpointer p) {
    auto* w = static_cast<CGtkHostWindow*>(p);
    if (e->button != 1) return TRUE;
    if (w->pressInFrame_) {
      w->pressInFrame_ = false;
      return TRUE;
    }
    w->client_.OnHostButtonUp(PointOf(e->x, e->y), MapModifiers(e->state));
    return TRUE;
  }
  static gboolean Motion(GtkWidget* widget, GdkEventMotion* e, gpointer p) {
    auto* w = static_cast<CGtkHostWindow*>(p);
    UiPoint pt = PointOf(e->x, e->y);
    const char* cursorName = CursorFor(w->client_.OnHostHitTest(pt));
    GdkWindow* gw = gtk_widget_get_window(widget);
    if (gw != nullptr) {
      GdkCursor* cursor =
          cursorName ? gdk_cursor_new_from_name(gdk_window_get_display(gw), cursorName) : nullptr;
      gdk_window_set_cursor(gw, cursor);
      if (cursor) g_object_unref(cursor);
    }
    w->client_.OnHostMouseMove(pt);
    return TRUE;
  }
  static gboolean Leave(GtkWidget*, GdkEventCrossing* e, gpointer p) {
    if (e->mode == GDK_CROSSING_NORMAL) static_cast<CGtkHostWindow*>(p)->client_.OnHostMouseLeave();
    return TRUE;
  }
  static gboolean KeyPress(GtkWidget*, GdkEventKey* e, gpointer p) {
    auto* w = static_cast<CGtkHostWindow*>(p);
    Key key = MapKey(e->keyval);
    unsigned mods = MapModifiers(e->state);
    w->client_.OnHostKeyDown(key, mods);
    if (IsPaste(e->keyval, mods)) {
      w->PasteClipboard();
      return TRUE;
    }
    gunichar ch = gdk_keyval_to_unicode(e->keyval);
    if (ch >= 0x20 && ch != 0x7F && (mods & (kModControl | kModAlt)) == 0) {
      w->client_.OnHostChar(static_cast<wchar_t>(ch));
    }
    return TRUE;
  }
  static gboolean FocusOut(GtkWidget*, GdkEventFocus*, gpointer p) {
    static_cast<CGtkHostWindow*>(p)->client_.OnHostFocusLost();
    return FALSE;
  }
  static gboolean Delete(GtkWidget*, GdkEvent*, gpointer p) {
    static_cast<CGtkHostWindow*>(p)->client_.OnHostCloseRequest();
    return TRUE;  // the window stays unless the toolkit window hides it
  }
  static gboolean WindowState(GtkWidget*, GdkEventWindowState* e, gpointer p) {
    auto* w = static_cast<CGtkHostWindow*>(p);
    w->minimized_ = (e->new_window_state & GDK_WINDOW_STATE_ICONIFIED) != 0;
    w->maximized_ = (e->new_window_state & GDK_WINDOW_STATE_MAXIMIZED) != 0;
    return FALSE;
  }
  static gboolean Timer(gpointer p) {
    auto* t = static_cast<TimerData*>(p);
    guint self = g_source_get_id(g_main_current_source());
    std::map<int, unsigned>* timers = t->timers;
    int id = t->id;
    t->client->OnHostTimer(id);
    // The tick may have stopped or replaced this timer.
    auto it = timers->find(id);
    return (it != timers->end() && it->second == self) ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
  }
};

namespace {
// The windows alive on the UI thread.
std::set<const IHostWindow*>& LiveWindows() {
  static std::set<const IHostWindow*> windows;
  return windows;
}
}  // namespace

GtkWindow* CGtkHostWindow::LiveGtkWindow(const IHostWindow* w) {
  if (w == nullptr || LiveWindows().count(w) == 0) return nullptr;
  return static_cast<const CGtkHostWindow*>(w)->gtkWindow();
}

CGtkHostWindow::CGtkHostWindow(IHostWindowClient& client, const HostWindowParams& params)
    : client_(client), size_(params.clientSize) {
  LiveWindows().insert(this);
  window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  g_object_ref_sink(window_);
  gtk_window_set_decorated(GTK_WINDOW(window_), FALSE);
  gtk_window_set_resizable(GTK_WINDOW(window_), TRUE);
  gtk_window_set_title(GTK_WINDOW(window_), ToUtf8(params.title).c_str());
  gtk_window_set_default_size(GTK_WINDOW(window_), size_.cx, size_.cy);
  if (!params.className.empty()) {
    gtk_window_set_role(GTK_WINDOW(window_), ToUtf8(params.className).c_str());
  }
  accessibility_ = std::make_unique<CGtkAccessibility>(client_);
  area_ = accessibility_->CreateArea();
  gtk_widget_set_can_focus(area_, TRUE);
  gtk_widget_add_events(area_, GDK_POINTER_MOTION_MASK | GDK_BUTTON_PRESS_MASK |
                                   GDK_BUTTON_RELEASE_MASK | GDK_LEAVE_NOTIFY_MASK |
                                   GDK_KEY_PRESS_MASK | GDK_FOCUS_CHANGE_MASK);
  gtk_container_add(GTK_CONTAINER(window_), area_);
  g_signal_connect(area_, "draw", G_CALLBACK(Callbacks::Draw), this);
  g_signal_connect(area_, "size-allocate", G_CALLBACK(Callbacks::SizeAllocate), this);
  g_signal_connect(area_, "button-press-event", G_CALLBACK(Callbacks::ButtonPress), this);
  g_signal_connect(area_, "button-release-event", G_CALLBACK(Callbacks::ButtonRelease), this);
  g_signal_connect(area_, "motion-notify-event", G_CALLBACK(Callbacks::Motion), this);
  g_signal_connect(area_, "leave-notify-event", G_CALLBACK(Callbacks::Leave), this);
  g_signal_connect(window_, "key-press-event", G_CALLBACK(Callbacks::KeyPress), this);
  g_signal_connect(window_, "focus-out-event", G_CALLBACK(Callbacks::FocusOut), this);
  g_signal_connect(window_, "delete-event", G_CALLBACK(Callbacks::Delete), this);
  g_signal_connect(window_, "window-state-event", G_CALLBACK(Callbacks::WindowState), this);
  gtk_widget_show(area_);
  const char* prg = g_get_prgname();
  launcher_ = std::make_unique<CLauncherEntry>(std::string("application://") +
                                               (prg ? prg : "kvdownloader") + ".desktop");
}

CGtkHostWindow::~CGtkHostWindow() {
  LiveWindows().erase(this);
  // Screen readers holding the controls' objects see them go before the window does.
  accessibility_.reset();
  for (auto& [id, source] : timers_) g_source_remove(source);
  timers_.clear();
  g_signal_handlers_disconnect_by_data(area_, this);
  g_signal_handlers_disconnect_by_data(window_, this);
  gtk_widget_destroy(window_);
  g_object_unref(window_);
  if (icon_) g_object_unref(icon_);
}

GtkWindow* CGtkHostWindow::gtkWindow() const {
  return GTK_WINDOW(window_);
}

void CGtkHostWindow::SetTitle(const std::wstring& title) {
  gtk_window_set_title(GTK_WINDOW(window_), ToUtf8(title).c_str());
}

bool CGtkHostWindow::SetIcon(const unsigned char* data, std::size_t size) {
  const char* format = ImageFormatOf(data, size);
  GdkPixbufLoader* loader = format ? gdk_pixbuf_loader_new_with_type(format, nullptr) : nullptr;
  if (loader == nullptr) return false;
  bool ok = gdk_pixbuf_loader_write(loader, data, size, nullptr);
  ok = gdk_pixbuf_loader_close(loader, nullptr) && ok;
  GdkPixbuf* pb = ok ? gdk_pixbuf_loader_get_pixbuf(loader) : nullptr;
  if (pb) {
    if (icon_) g_object_unref(icon_);
    icon_ = GDK_PIXBUF(g_object_ref(pb));
    // Message boxes and the folder picker show the program's icon too.
    gtk_window_set_default_icon(pb);
    UpdateIcon();
  }
  g_object_unref(loader);
  return pb != nullptr;
}

void CGtkHostWindow::UpdateIcon() {
  if (icon_ == nullptr) return;
  TaskbarBadge badge = TaskbarBadge::kNone;
  if (taskbarState_ == TaskbarState::kError) badge = TaskbarBadge::kError;
  if (taskbarState_ == TaskbarState::kPaused) badge = TaskbarBadge::kPaused;
  GdkPixbuf* shown = BadgedIcon(icon_, badge);
  gtk_window_set_icon(GTK_WINDOW(window_), shown);
  g_object_unref(shown);
}

void CGtkHostWindow::SetClientSize(UiSize size) {
  if (size.cx <= 0 || size.cy <= 0) return;
  size = UiSize{std::max(size.cx, min_.cx), std::max(size.cy, min_.cy)};
  size_ = size;
  gtk_window_set_default_size(GTK_WINDOW(window_), size.cx, size.cy);
  gtk_window_resize(GTK_WINDOW(window_), size.cx, size.cy);
  client_.OnHostResize(size_);
  Invalidate();
}

void CGtkHostWindow::SetMinClientSize(UiSize size) {
  min_ = UiSize{std::max(0, size.cx), std::max(0, size.cy)};
  // The drawing area fills the undecorated window, so window and client sizes are one.
  GdkGeometry geometry{};
  geometry.min_width = min_.cx;
  geometry.min_height = min_.cy;
  gtk_window_set_geometry_hints(GTK_WINDOW(window_), nullptr, &geometry, GDK_HINT_MIN_SIZE);
  if (size_.cx < min_.cx || size_.cy < min_.cy) SetClientSize(size_);
}

void CGtkHostWindow::PasteClipboard() {
  GtkClipboard* clipboard = gtk_widget_get_clipboard(area_, GDK_SELECTION_CLIPBOARD);
  gchar* text = gtk_clipboard_wait_for_text(clipboard);
  if (text == nullptr) return;
  std::wstring wide = FromUtf8(text);
  g_free(text);
  // Typed in as characters: line breaks and other control characters of the pasted text
  // have no place in a one-line field.
  for (wchar_t ch : wide) {
    if (ch >= 0x20 && ch != 0x7F) client_.OnHostChar(ch);
  }
}

UiPoint CGtkHostWindow::GetPosition() const {
  gint x = 0, y = 0;
  gtk_window_get_position(GTK_WINDOW(window_), &x, &y);
  return UiPoint{x, y};
}

void CGtkHostWindow::Move(UiPoint topLeft) {
  gtk_window_move(GTK_WINDOW(window_), topLeft.x, topLeft.y);
}

void CGtkHostWindow::CenterOnWorkArea() {
  GdkDisplay* display = gtk_widget_get_display(window_);
  GdkMonitor* monitor = nullptr;
  if (GdkWindow* gw = gtk_widget_get_window(window_); gw && gtk_widget_get_mapped(window_)) {
    monitor = gdk_display_get_monitor_at_window(display, gw);
  } else if (GdkSeat* seat = gdk_display_get_default_seat(display)) {
    // Not on screen yet: the monitor the user is working on.
    gint x = 0, y = 0;
    if (GdkDevice* pointer = gdk_seat_get_pointer(seat)) {
      gdk_device_get_position(pointer, nullptr, &x, &y);
      monitor = gdk_display_get_monitor_at_point(display, x, y);
    }
  }
  if (monitor == nullptr) monitor = gdk_display_get_primary_monitor(display);
  if (monitor == nullptr) monitor = gdk_display_get_monitor(display, 0);
  if (monitor == nullptr) return;
  GdkRectangle wa;
  gdk_monitor_get_workarea(monitor, &wa);
  Move(UiPoint{wa.x + (wa.width - size_.cx) / 2, wa.y + (wa.height - size_.cy) / 2});
}

void CGtkHostWindow::Show() {
  gtk_widget_show(window_);
}

void CGtkHostWindow::Hide() {
  gtk_widget_hide(window_);
}

bool CGtkHostWindow::IsVisible() const {
  return gtk_widget_get_visible(window_);
}

void CGtkHostWindow::Minimize() {
  minimized_ = true;
  gtk_window_iconify(GTK_WINDOW(window_));
}

void CGtkHostWindow::Maximize() {
  gtk_window_maximize(GTK_WINDOW(window_));
}

void CGtkHostWindow::Restore() {
  gtk_window_unmaximize(GTK_WINDOW(window_));
  gtk_window_deiconify(GTK_WINDOW(window_));
}

bool CGtkHostWindow::IsMaximized() const {
  return maximized_ || gtk_window_is_maximized(GTK_WINDOW(window_));
}

void CGtkHostWindow::Present() {
  gtk_window_deiconify(GTK_WINDOW(window_));
  gtk_window_present(GTK_WINDOW(window_));
}

void CGtkHostWindow::Invalidate() {
  gtk_widget_queue_draw(area_);
  // What is drawn is what a screen reader is told.
  accessibility_->ScheduleRefresh();
}

void CGtkHostWindow::SetTimer(int id, unsigned intervalMs) {
  KillTimer(id);
  auto* data = new TimerData{&client_, &timers_, id};
  guint source = g_timeout_add_full(G_PRIORITY_DEFAULT, intervalMs, Callbacks::Timer, data,
                                    [](gpointer p) { delete static_cast<TimerData*>(p); });
  timers_[id] = source;
}

void CGtkHostWindow::KillTimer(int id) {
  auto it = timers_.find(id);
  if (it == timers_.end()) return;
  g_source_remove(it->second);
  timers_.erase(it);
}

void CGtkHostWindow::SetTaskbarState(TaskbarState state) {
  bool badgeChanged = state != taskbarState_;
  taskbarState_ = state;
  UpdateTaskbar();
  if (badgeChanged) UpdateIcon();
}

void CGtkHostWindow::SetTaskbarValue(std::uint64_t completed, std::uint64_t total) {
  taskbarProgress_ = total == 0 ? 0.0 : std::min(1.0, static_cast<double>(completed) / total);
  UpdateTaskbar();
}

void CGtkHostWindow::UpdateTaskbar() {
  bool visible = taskbarState_ != TaskbarState::kNoProgress;
  // An error wants the user; a pause (a question waiting) shows its badge but does not flash.
  bool urgent = taskbarState_ == TaskbarState::kError;
  double progress = taskbarState_ == TaskbarState::kIndeterminate ? 0.0 : taskbarProgress_;
  launcher_->Update(progress, visible, urgent);
  gtk_window_set_urgency_hint(GTK_WINDOW(window_), urgent);
}

int CGtkHostWindow::GetScale() const {
  return gtk_widget_get_scale_factor(window_);
}

}  // namespace SkinUI
