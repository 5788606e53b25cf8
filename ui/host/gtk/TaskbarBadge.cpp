#include "ui/host/gtk/TaskbarBadge.h"

#include <gdk/gdk.h>

#include <cmath>

namespace SkinUI {

GdkPixbuf* BadgedIcon(GdkPixbuf* icon, TaskbarBadge badge) {
  if (badge == TaskbarBadge::kNone) return gdk_pixbuf_copy(icon);
  int w = gdk_pixbuf_get_width(icon);
  int h = gdk_pixbuf_get_height(icon);
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
  cairo_t* cr = cairo_create(surface);
  gdk_cairo_set_source_pixbuf(cr, icon, 0, 0);
  cairo_paint(cr);

  double s = std::min(w, h);
  double r = s * 0.24;
  double cx = w - r - s * 0.02;
  double cy = h - r - s * 0.02;
  // A white ring keeps the badge apart from the icon under it.
  cairo_arc(cr, cx, cy, r + s * 0.035, 0, 2 * M_PI);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_fill(cr);
  cairo_arc(cr, cx, cy, r, 0, 2 * M_PI);
  if (badge == TaskbarBadge::kError) {
    cairo_set_source_rgb(cr, 0xD6 / 255.0, 0x3B / 255.0, 0x31 / 255.0);
    cairo_fill(cr);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_set_line_width(cr, r * 0.3);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_move_to(cr, cx, cy - r * 0.5);
    cairo_line_to(cr, cx, cy + r * 0.1);
    cairo_stroke(cr);
    cairo_arc(cr, cx, cy + r * 0.5, r * 0.16, 0, 2 * M_PI);
    cairo_fill(cr);
  } else {
    cairo_set_source_rgb(cr, 0xF2 / 255.0, 0xA9 / 255.0, 0x1B / 255.0);
    cairo_fill(cr);
    cairo_set_source_rgb(cr, 0x3D / 255.0, 0x2B / 255.0, 0x00 / 255.0);
    double bw = r * 0.26, bh = r * 0.95, gap = r * 0.2;
    cairo_rectangle(cr, cx - gap - bw, cy - bh / 2, bw, bh);
    cairo_rectangle(cr, cx + gap, cy - bh / 2, bw, bh);
    cairo_fill(cr);
  }
  cairo_destroy(cr);
  cairo_surface_flush(surface);
  GdkPixbuf* out = gdk_pixbuf_get_from_surface(surface, 0, 0, w, h);
  cairo_surface_destroy(surface);
  return out;
}

}  // namespace SkinUI
