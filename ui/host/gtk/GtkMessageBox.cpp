#include "ui/host/gtk/GtkMessageBox.h"

#include <gtk/gtk.h>

#include <cmath>
#include <vector>

#include "ui/core/Utf.h"
#include "ui/host/Host.h"

namespace SkinUI {
namespace {

constexpr int kIconSize = 40;

enum class BoxKind { kNone, kError, kWarning, kQuestion, kInformation };

BoxKind KindOf(unsigned flags) {
  switch (flags & MB_ICONMASK) {
    case MB_ICONERROR:
      return BoxKind::kError;
    case MB_ICONWARNING:
      return BoxKind::kWarning;
    case MB_ICONQUESTION:
      return BoxKind::kQuestion;
    case MB_ICONINFORMATION:
      return BoxKind::kInformation;
    default:
      return BoxKind::kNone;
  }
}

bool HasWayOut(unsigned flags) {
  unsigned type = flags & MB_TYPEMASK;
  return type != MB_YESNO && type != MB_ABORTRETRYIGNORE;
}

// The kinds' icons are drawn rather than taken from an icon theme: a desktop without one would
// show a broken image, and drawing keeps them sharp at every scale.
gboolean DrawIcon(GtkWidget* widget, cairo_t* cr, gpointer data) {
  auto kind = static_cast<BoxKind>(GPOINTER_TO_INT(data));
  double s =
      std::min(gtk_widget_get_allocated_width(widget), gtk_widget_get_allocated_height(widget));
  double c = s / 2;
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
  switch (kind) {
    case BoxKind::kWarning: {
      // A rounded triangle with an exclamation mark.
      cairo_set_source_rgb(cr, 0xF2 / 255.0, 0xA9 / 255.0, 0x1B / 255.0);
      cairo_set_line_width(cr, s * 0.12);
      cairo_move_to(cr, c, s * 0.12);
      cairo_line_to(cr, s * 0.94, s * 0.86);
      cairo_line_to(cr, s * 0.06, s * 0.86);
      cairo_close_path(cr);
      cairo_fill_preserve(cr);
      cairo_stroke(cr);
      cairo_set_source_rgb(cr, 0x3D / 255.0, 0x2B / 255.0, 0x00 / 255.0);
      cairo_set_line_width(cr, s * 0.09);
      cairo_move_to(cr, c, s * 0.38);
      cairo_line_to(cr, c, s * 0.62);
      cairo_stroke(cr);
      cairo_arc(cr, c, s * 0.76, s * 0.055, 0, 2 * M_PI);
      cairo_fill(cr);
      return TRUE;
    }
    case BoxKind::kError:
      cairo_set_source_rgb(cr, 0xD6 / 255.0, 0x3B / 255.0, 0x31 / 255.0);
      break;
    case BoxKind::kQuestion:
      cairo_set_source_rgb(cr, 0x04 / 255.0, 0xA6 / 255.0, 0x8D / 255.0);
      break;
    case BoxKind::kInformation:
      cairo_set_source_rgb(cr, 0x1F / 255.0, 0x7A / 255.0, 0xC4 / 255.0);
      break;
    case BoxKind::kNone:
      return TRUE;
  }
  cairo_arc(cr, c, c, s * 0.46, 0, 2 * M_PI);
  cairo_fill(cr);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_set_line_width(cr, s * 0.09);
  if (kind == BoxKind::kError) {
    double d = s * 0.15;
    cairo_move_to(cr, c - d, c - d);
    cairo_line_to(cr, c + d, c + d);
    cairo_move_to(cr, c + d, c - d);
    cairo_line_to(cr, c - d, c + d);
    cairo_stroke(cr);
  } else if (kind == BoxKind::kInformation) {
    cairo_move_to(cr, c, s * 0.44);
    cairo_line_to(cr, c, s * 0.72);
    cairo_stroke(cr);
    cairo_arc(cr, c, s * 0.29, s * 0.055, 0, 2 * M_PI);
    cairo_fill(cr);
  } else {
    // A question mark: an open hook over a dot.
    cairo_arc(cr, c, s * 0.38, s * 0.13, M_PI * 1.05, M_PI * 2.35);
    cairo_line_to(cr, c, s * 0.60);
    cairo_stroke(cr);
    cairo_arc(cr, c, s * 0.75, s * 0.055, 0, 2 * M_PI);
    cairo_fill(cr);
  }
  return TRUE;
}

// GTK reads "_" in button labels as a mnemonic mark. The English labels get Alt+first letter as
// their shortcut; translated labels are shown as they are.
std::string ButtonText(const std::wstring& label) {
  static const wchar_t* kEnglish[] = {L"OK",     L"Cancel", L"Abort", L"Retry",
                                      L"Ignore", L"Yes",    L"No"};
  for (const wchar_t* english : kEnglish) {
    if (label == english) return "_" + ToUtf8(label);
  }
  std::string out;
  for (char ch : ToUtf8(label)) {
    out += ch;
    if (ch == '_') out += '_';
  }
  return out;
}

void SetDirectionDeep(GtkWidget* widget, gpointer dir) {
  gtk_widget_set_direction(widget, static_cast<GtkTextDirection>(GPOINTER_TO_INT(dir)));
  if (GTK_IS_CONTAINER(widget)) gtk_container_forall(GTK_CONTAINER(widget), SetDirectionDeep, dir);
}

gboolean StopEmission(GtkWidget* widget, GdkEvent*, gpointer) {
  return TRUE;  // delete-event: the box stays
}

void StopClose(GtkDialog* dialog, gpointer) {
  g_signal_stop_emission_by_name(dialog, "close");
}

}  // namespace

int RunGtkMessageBox(GtkWindow* parent, const std::wstring& text, const std::wstring& caption,
                     unsigned flags) {
  GtkWidget* dialog = gtk_dialog_new();
  gtk_window_set_title(GTK_WINDOW(dialog), ToUtf8(caption).c_str());
  gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
  gtk_window_set_resizable(GTK_WINDOW(dialog), FALSE);
  if (parent != nullptr) {
    gtk_window_set_transient_for(GTK_WINDOW(dialog), parent);
    gtk_window_set_destroy_with_parent(GTK_WINDOW(dialog), TRUE);
  }
  gtk_window_set_position(GTK_WINDOW(dialog),
                          parent ? GTK_WIN_POS_CENTER_ON_PARENT : GTK_WIN_POS_CENTER);
  if (flags & MB_SETFOREGROUND) gtk_window_set_keep_above(GTK_WINDOW(dialog), TRUE);
  atk_object_set_role(gtk_widget_get_accessible(dialog), ATK_ROLE_ALERT);

  GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 16);
  gtk_container_set_border_width(GTK_CONTAINER(row), 18);
  BoxKind kind = KindOf(flags);
  if (kind != BoxKind::kNone) {
    GtkWidget* icon = gtk_drawing_area_new();
    gtk_widget_set_size_request(icon, kIconSize, kIconSize);
    gtk_widget_set_valign(icon, GTK_ALIGN_START);
    g_signal_connect(icon, "draw", G_CALLBACK(DrawIcon), GINT_TO_POINTER(static_cast<int>(kind)));
    gtk_box_pack_start(GTK_BOX(row), icon, FALSE, FALSE, 0);
  }
  GtkWidget* label = gtk_label_new(ToUtf8(text).c_str());
  gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
  gtk_label_set_line_wrap_mode(GTK_LABEL(label), PANGO_WRAP_WORD_CHAR);
  gtk_label_set_max_width_chars(GTK_LABEL(label), 56);
  // Start-aligned: GTK mirrors the alignment with the widget's direction.
  gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
  gtk_label_set_yalign(GTK_LABEL(label), 0.5f);
  gtk_label_set_selectable(GTK_LABEL(label), TRUE);
  gtk_widget_set_valign(label, GTK_ALIGN_CENTER);
  gtk_box_pack_start(GTK_BOX(row), label, TRUE, TRUE, 0);
  gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(dialog))), row, TRUE, TRUE, 0);

  std::vector<int> buttons = MessageBoxButtons(flags);
  GtkWidget* first = nullptr;
  for (int id : buttons) {
    GtkWidget* b = gtk_dialog_add_button(GTK_DIALOG(dialog),
                                         ButtonText(MessageBoxButtonLabel(id)).c_str(), id);
    if (first == nullptr) first = b;
  }
  gtk_dialog_set_default_response(GTK_DIALOG(dialog), buttons.front());

  if (!HasWayOut(flags)) {
    // Escape and the title bar's close would answer a question nobody answered.
    gtk_window_set_deletable(GTK_WINDOW(dialog), FALSE);
    g_signal_connect(dialog, "delete-event", G_CALLBACK(StopEmission), nullptr);
    g_signal_connect(dialog, "close", G_CALLBACK(StopClose), nullptr);
  }
  gtk_widget_show_all(row);
  if (flags & (MB_RTLREADING | MB_RIGHT)) {
    SetDirectionDeep(dialog, GINT_TO_POINTER(static_cast<int>(GTK_TEXT_DIR_RTL)));
  }
  // The default button has the keyboard, not the selectable text (which would open selected).
  gtk_widget_grab_focus(first);

  g_object_ref(dialog);
  int response = gtk_dialog_run(GTK_DIALOG(dialog));
  gtk_widget_destroy(dialog);
  g_object_unref(dialog);
  for (int id : buttons) {
    if (id == response) return id;
  }
  return MessageBoxDismissResult(flags);
}

}  // namespace SkinUI
