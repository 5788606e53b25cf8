#include "ui/render/RenderContext.h"

#include <cairo.h>
#include <pango/pangocairo.h>

#include <cmath>

#include "ui/core/InlineMarkup.h"
#include "ui/core/PaintManager.h"
#include "ui/core/Utf.h"
#include "ui/core/ValueFormats.h"
#include "ui/render/FontCache.h"
#include "ui/render/ImageCache.h"
#include "ui/render/UiLanguage.h"

namespace SkinUI {
namespace {

void SetColor(cairo_t* cr, UiColor c, bool ignoreAlpha = false) {
  double a = ignoreAlpha ? 1.0 : ((c >> 24) & 0xFF) / 255.0;
  cairo_set_source_rgba(cr, ((c >> 16) & 0xFF) / 255.0, ((c >> 8) & 0xFF) / 255.0,
                        (c & 0xFF) / 255.0, a);
}

// A rectangle with elliptic corners of the given width and height (as a corner ellipse).
void RoundRectPath(cairo_t* cr, double x, double y, double w, double h, UiSize round) {
  double rx = std::min(round.cx / 2.0, w / 2.0);
  double ry = std::min(round.cy / 2.0, h / 2.0);
  cairo_new_path(cr);
  if (rx <= 0 || ry <= 0) {
    cairo_rectangle(cr, x, y, w, h);
    return;
  }
  auto corner = [&](double cx, double cy, double a0) {
    cairo_save(cr);
    cairo_translate(cr, cx, cy);
    cairo_scale(cr, rx, ry);
    cairo_arc(cr, 0, 0, 1, a0, a0 + M_PI / 2);
    cairo_restore(cr);
  };
  corner(x + w - rx, y + ry, -M_PI / 2);
  corner(x + w - rx, y + h - ry, 0);
  corner(x + rx, y + h - ry, M_PI / 2);
  corner(x + rx, y + ry, M_PI);
  cairo_close_path(cr);
}

// Device pixels per user unit: the context's own scale times the surface's (a HiDPI window's
// surface carries a device scale of 2).
double DeviceScaleOf(cairo_t* cr) {
  double dx = 1, dy = 0;
  cairo_user_to_device_distance(cr, &dx, &dy);
  double sx = 1, sy = 1;
  cairo_surface_get_device_scale(cairo_get_group_target(cr), &sx, &sy);
  return std::hypot(dx, dy) * sx;
}

// Draws src (a part of the image) stretched into dst.
void Blit(cairo_t* cr, cairo_surface_t* img, double sx, double sy, double sw, double sh, double dx,
          double dy, double dw, double dh, double alpha) {
  if (sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0) return;
  cairo_save(cr);
  cairo_rectangle(cr, dx, dy, dw, dh);
  cairo_clip(cr);
  cairo_translate(cr, dx, dy);
  cairo_scale(cr, dw / sw, dh / sh);
  cairo_set_source_surface(cr, img, -sx, -sy);
  cairo_pattern_t* p = cairo_get_source(cr);
  cairo_pattern_set_extend(p, CAIRO_EXTEND_PAD);
  // Never nearest-pixel: a 1x image on a 2x display would come out blocky. Where source and
  // device pixels meet one to one, cairo copies them exactly anyway.
  cairo_pattern_set_filter(p, CAIRO_FILTER_GOOD);
  if (alpha >= 1.0)
    cairo_paint(cr);
  else
    cairo_paint_with_alpha(cr, alpha);
  cairo_restore(cr);
}

PangoAlignment ToPango(unsigned style, bool rtl) {
  // Skin alignment means the screen side, whatever the paragraph direction; pango swaps left
  // and right for right-to-left paragraphs, so swap them back.
  if (style & kTextCenter) return PANGO_ALIGN_CENTER;
  bool right = (style & kTextRight) != 0;
  if (rtl) right = !right;
  return right ? PANGO_ALIGN_RIGHT : PANGO_ALIGN_LEFT;
}

PangoLayout* MakeLayout(cairo_t* cr, const PangoFontDescription* desc, const std::string& utf8,
                        const UiRect& rc, unsigned style) {
  PangoLayout* layout = pango_cairo_create_layout(cr);
  // The UI language picks the faces of characters several languages share (Han above all).
  pango_context_set_language(pango_layout_get_context(layout),
                             pango_language_from_string(GetUiLanguage().c_str()));
  pango_layout_context_changed(layout);
  pango_layout_set_font_description(layout, desc);
  pango_layout_set_text(layout, utf8.c_str(), static_cast<int>(utf8.size()));
  pango_layout_set_width(layout, std::max(1, rc.GetWidth()) * PANGO_SCALE);
  PangoLayoutLine* first = pango_layout_get_line_readonly(layout, 0);
  bool rtl = first != nullptr && first->resolved_dir == PANGO_DIRECTION_RTL;
  pango_layout_set_alignment(layout, ToPango(style, rtl));
  if (style & kTextSingleLine) {
    pango_layout_set_single_paragraph_mode(layout, TRUE);
    pango_layout_set_ellipsize(
        layout, (style & kTextEndEllipsis) ? PANGO_ELLIPSIZE_END : PANGO_ELLIPSIZE_NONE);
  } else {
    pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
  }
  return layout;
}

int NaturalWidth(PangoLayout* layout) {
  int keep = pango_layout_get_width(layout);
  PangoEllipsizeMode mode = pango_layout_get_ellipsize(layout);
  pango_layout_set_ellipsize(layout, PANGO_ELLIPSIZE_NONE);
  pango_layout_set_width(layout, -1);
  int w = 0, h = 0;
  pango_layout_get_pixel_size(layout, &w, &h);
  pango_layout_set_width(layout, keep);
  pango_layout_set_ellipsize(layout, mode);
  return w;
}

// A one-line text wider than its place is set smaller, in steps of kTextScaleStep of its size,
// down to kMinTextScale; only what still does not fit then ends in an ellipsis. `attrs` (may be
// null) are the text's own attributes; the scale goes on top of them.
TextFit FitLayout(PangoLayout* layout, PangoAttrList* attrs, int available, unsigned style) {
  TextFit fit;
  fit.available = available;
  fit.naturalWidth = NaturalWidth(layout);
  fit.width = fit.naturalWidth;
  if (!(style & kTextSingleLine) || fit.naturalWidth <= available) return fit;
  if (style & kTextShrinkToFit) {
    constexpr double kTextScaleStep = 0.025;
    for (int step = 1; 1.0 - step * kTextScaleStep >= kMinTextScale - 1e-9; ++step) {
      double scale = 1.0 - step * kTextScaleStep;
      PangoAttrList* scaled = attrs ? pango_attr_list_copy(attrs) : pango_attr_list_new();
      pango_attr_list_insert(scaled, pango_attr_scale_new(scale));
      pango_layout_set_attributes(layout, scaled);
      pango_attr_list_unref(scaled);
      fit.scale = scale;
      fit.width = NaturalWidth(layout);
      if (fit.width <= available) return fit;
    }
  }
  fit.ellipsized = (style & kTextEndEllipsis) != 0;
  if (fit.ellipsized) fit.width = available;
  return fit;
}

double TopOf(PangoLayout* layout, const UiRect& rc, unsigned style) {
  int w = 0, h = 0;
  pango_layout_get_pixel_size(layout, &w, &h);
  if (style & kTextVCenter) return rc.top + (rc.GetHeight() - h) / 2.0;
  if (style & kTextBottom) return rc.bottom - h;
  return rc.top;
}

}  // namespace

CRenderContext::CRenderContext(cairo_t* cr, CPaintManagerUI& manager)
    : cr_(cr), manager_(manager) {}

void CRenderContext::FillRect(const UiRect& rc, UiColor color) {
  if (rc.IsEmpty()) return;
  cairo_save(cr_);
  SetColor(cr_, color);
  cairo_rectangle(cr_, rc.left, rc.top, rc.GetWidth(), rc.GetHeight());
  cairo_fill(cr_);
  cairo_restore(cr_);
}

void CRenderContext::FillRoundRect(const UiRect& rc, UiSize round, UiColor color) {
  if (rc.IsEmpty()) return;
  cairo_save(cr_);
  SetColor(cr_, color);
  RoundRectPath(cr_, rc.left, rc.top, rc.GetWidth(), rc.GetHeight(), round);
  cairo_fill(cr_);
  cairo_restore(cr_);
}

void CRenderContext::DrawBorder(const UiRect& rc, int size, UiColor color, UiSize round) {
  if (rc.IsEmpty() || size <= 0) return;
  cairo_save(cr_);
  SetColor(cr_, color);
  cairo_set_line_width(cr_, size);
  double half = size / 2.0;
  RoundRectPath(cr_, rc.left + half, rc.top + half, rc.GetWidth() - size, rc.GetHeight() - size,
                round);
  cairo_stroke(cr_);
  cairo_restore(cr_);
}

bool CRenderContext::DrawImage(const UiRect& rc, const std::wstring& imageValue) {
  ImageDescriptor d = ParseImageDescriptor(imageValue);
  UiRect dest = rc;
  if (d.dest) {
    dest = *d.dest;
    dest.Offset(rc.left, rc.top);
    dest = dest.Intersected(rc);
  }
  if (d.IsEmpty()) return false;
  if (d.file.empty() && d.res.empty() && d.color) {
    FillRect(dest, *d.color);
    return true;
  }
  int density = DeviceScaleOf(cr_) > 1.01 ? 2 : 1;
  std::shared_ptr<CSkinImage> img = manager_.GetImageCache().Get(d.Name(), d.mask, density);
  if (!img || dest.IsEmpty()) return false;
  // "source" and "corner" are in skin pixels; a double-density image has twice as many.
  const int k = img->density();
  auto imagePixels = [k](const UiRect& r) {
    return UiRect{r.left * k, r.top * k, r.right * k, r.bottom * k};
  };
  UiRect src{0, 0, img->width(), img->height()};
  if (d.source) {
    src = imagePixels(*d.source).Intersected(src);
    if (src.IsEmpty()) return false;
  }
  double alpha = d.fade / 255.0;
  const UiRect c = imagePixels(d.corner);
  const UiRect& dc = d.corner;
  if (c.left == 0 && c.top == 0 && c.right == 0 && c.bottom == 0) {
    if (d.xtiled || d.ytiled) {
      // Repeat the image at its own size along the tiled directions.
      int stepX = d.xtiled ? std::max(1, src.GetWidth() / k) : dest.GetWidth();
      int stepY = d.ytiled ? std::max(1, src.GetHeight() / k) : dest.GetHeight();
      for (int y = dest.top; y < dest.bottom; y += stepY) {
        for (int x = dest.left; x < dest.right; x += stepX) {
          cairo_save(cr_);
          cairo_rectangle(cr_, dest.left, dest.top, dest.GetWidth(), dest.GetHeight());
          cairo_clip(cr_);
          Blit(cr_, img->surface(), src.left, src.top, src.GetWidth(), src.GetHeight(), x, y, stepX,
               stepY, alpha);
          cairo_restore(cr_);
        }
      }
      return true;
    }
    Blit(cr_, img->surface(), src.left, src.top, src.GetWidth(), src.GetHeight(), dest.left,
         dest.top, dest.GetWidth(), dest.GetHeight(), alpha);
    return true;
  }
  // Nine parts: corners at their size, edges stretched one way, the middle both ways.
  const double sxs[4] = {double(src.left), double(src.left + c.left), double(src.right - c.right),
                         double(src.right)};
  const double sys[4] = {double(src.top), double(src.top + c.top), double(src.bottom - c.bottom),
                         double(src.bottom)};
  const double dxs[4] = {double(dest.left), double(dest.left + dc.left),
                         double(dest.right - dc.right), double(dest.right)};
  const double dys[4] = {double(dest.top), double(dest.top + dc.top),
                         double(dest.bottom - dc.bottom), double(dest.bottom)};
  for (int j = 0; j < 3; ++j) {
    for (int i = 0; i < 3; ++i) {
      if (d.hole && i == 1 && j == 1) continue;
      Blit(cr_, img->surface(), sxs[i], sys[j], sxs[i + 1] - sxs[i], sys[j + 1] - sys[j], dxs[i],
           dys[j], dxs[i + 1] - dxs[i], dys[j + 1] - dys[j], alpha);
    }
  }
  return true;
}

int CRenderContext::MeasureText(const std::wstring& text, int font) {
  if (text.empty()) return 0;
  std::string utf8 = ToUtf8(text);
  PangoLayout* layout =
      MakeLayout(cr_, manager_.GetFontCache().Get(manager_.GetFont(font)), utf8, UiRect{}, 0);
  int w = NaturalWidth(layout);
  g_object_unref(layout);
  return w;
}

TextFit CRenderContext::DrawText(const UiRect& rc, const std::wstring& text, UiColor color,
                                 int font, unsigned style) {
  if (text.empty() || rc.IsEmpty()) return TextFit{};
  const FontInfo& info = manager_.GetFont(font);
  std::string utf8 = ToUtf8(text);
  PangoLayout* layout = MakeLayout(cr_, manager_.GetFontCache().Get(info), utf8, rc, style);
  PangoAttrList* attrs = nullptr;
  if (info.underline) {
    attrs = pango_attr_list_new();
    pango_attr_list_insert(attrs, pango_attr_underline_new(PANGO_UNDERLINE_SINGLE));
    pango_layout_set_attributes(layout, attrs);
  }
  TextFit fit = FitLayout(layout, attrs, rc.GetWidth(), style);
  if (attrs) pango_attr_list_unref(attrs);
  cairo_save(cr_);
  cairo_rectangle(cr_, rc.left, rc.top, rc.GetWidth(), rc.GetHeight());
  cairo_clip(cr_);
  SetColor(cr_, color, true);
  cairo_move_to(cr_, rc.left, TopOf(layout, rc, style));
  pango_cairo_show_layout(cr_, layout);
  cairo_restore(cr_);
  g_object_unref(layout);
  return fit;
}

TextFit CRenderContext::DrawRichText(const UiRect& rc, const std::wstring& text, UiColor color,
                                     int font, unsigned style, std::vector<LinkArea>* links,
                                     int hotLink) {
  if (links) links->clear();
  if (text.empty() || rc.IsEmpty()) return TextFit{};
  RichText rich = ParseInlineMarkup(text);
  std::string utf8;
  PangoAttrList* attrs = pango_attr_list_new();
  struct Span {
    int link;
    guint start, end;
  };
  std::vector<Span> spans;
  for (const RichRun& run : rich.runs) {
    guint start = static_cast<guint>(utf8.size());
    utf8 += ToUtf8(run.text);
    guint end = static_cast<guint>(utf8.size());
    auto add = [&](PangoAttribute* a) {
      a->start_index = start;
      a->end_index = end;
      pango_attr_list_insert(attrs, a);
    };
    std::optional<UiColor> c = run.color;
    if (run.link >= 0) {
      c = run.link == hotLink ? manager_.GetLinkHoverColor() : manager_.GetLinkColor();
      spans.push_back(Span{run.link, start, end});
    }
    if (c) {
      add(pango_attr_foreground_new(static_cast<guint16>(((*c >> 16) & 0xFF) * 257),
                                    static_cast<guint16>(((*c >> 8) & 0xFF) * 257),
                                    static_cast<guint16>((*c & 0xFF) * 257)));
    }
    if (run.underline) add(pango_attr_underline_new(PANGO_UNDERLINE_SINGLE));
    if (run.bold) add(pango_attr_weight_new(PANGO_WEIGHT_BOLD));
    if (run.italic) add(pango_attr_style_new(PANGO_STYLE_ITALIC));
    if (run.font >= 0) {
      add(pango_attr_font_desc_new(manager_.GetFontCache().Get(manager_.GetFont(run.font))));
    }
  }
  const FontInfo& info = manager_.GetFont(font);
  PangoLayout* layout = MakeLayout(cr_, manager_.GetFontCache().Get(info), utf8, rc, style);
  pango_layout_set_attributes(layout, attrs);
  TextFit fit = FitLayout(layout, attrs, rc.GetWidth(), style);
  pango_attr_list_unref(attrs);
  double top = TopOf(layout, rc, style);
  cairo_save(cr_);
  cairo_rectangle(cr_, rc.left, rc.top, rc.GetWidth(), rc.GetHeight());
  cairo_clip(cr_);
  SetColor(cr_, color, true);
  cairo_move_to(cr_, rc.left, top);
  pango_cairo_show_layout(cr_, layout);
  cairo_restore(cr_);
  if (links) {
    for (const Span& s : spans) {
      UiRect area{1 << 30, 1 << 30, -(1 << 30), -(1 << 30)};
      // The union of the glyph boxes of the link's characters.
      for (guint i = s.start; i < s.end;) {
        PangoRectangle pos;
        pango_layout_index_to_pos(layout, static_cast<int>(i), &pos);
        int x0 = PANGO_PIXELS(std::min(pos.x, pos.x + pos.width));
        int x1 = PANGO_PIXELS(std::max(pos.x, pos.x + pos.width));
        area.left = std::min(area.left, rc.left + x0);
        area.right = std::max(area.right, rc.left + x1);
        area.top = std::min(area.top, static_cast<int>(top) + PANGO_PIXELS(pos.y));
        area.bottom =
            std::max(area.bottom, static_cast<int>(top) + PANGO_PIXELS(pos.y + pos.height));
        const char* next = g_utf8_next_char(utf8.c_str() + i);
        i = static_cast<guint>(next - utf8.c_str());
      }
      if (area.left < area.right) {
        links->push_back(LinkArea{area, s.link, rich.links[static_cast<std::size_t>(s.link)]});
      }
    }
  }
  g_object_unref(layout);
  return fit;
}

void CRenderContext::PushClip(const UiRect& rc) {
  cairo_save(cr_);
  cairo_rectangle(cr_, rc.left, rc.top, rc.GetWidth(), rc.GetHeight());
  cairo_clip(cr_);
}

void CRenderContext::PushRoundClip(const UiRect& rc, UiSize round) {
  cairo_save(cr_);
  RoundRectPath(cr_, rc.left, rc.top, rc.GetWidth(), rc.GetHeight(), round);
  cairo_clip(cr_);
}

void CRenderContext::PopClip() {
  cairo_restore(cr_);
}

}  // namespace SkinUI
