#include "ui/render/FontCache.h"

#include <cairo.h>
#include <gtest/gtest.h>
#include <pango/pangocairo.h>

#include "ui/core/Utf.h"

namespace SkinUI {
namespace {

TEST(FontCacheTest, MissingWindowsFamiliesMapToAnInstalledSansFace) {
  int weight = 0;
  std::string family = CFontCache::ResolveFamily(L"Segoe UI", &weight);
  EXPECT_NE(family, "Segoe UI");
  EXPECT_FALSE(family.empty());
  EXPECT_EQ(weight, PANGO_WEIGHT_NORMAL);
  EXPECT_EQ(CFontCache::ResolveFamily(L"Segoe UI Semibold", &weight), family);
  EXPECT_EQ(weight, PANGO_WEIGHT_SEMIBOLD);
  // An installed family is kept as it is.
  EXPECT_EQ(CFontCache::ResolveFamily(L"DejaVu Sans", &weight), "DejaVu Sans");

  CFontCache cache;
  FontInfo f;
  f.name = L"Segoe UI";
  f.size = 14;
  const PangoFontDescription* d = cache.Get(f);
  EXPECT_EQ(cache.Get(f), d);
  EXPECT_EQ(pango_font_description_get_size(d), 14 * PANGO_SCALE);
  EXPECT_TRUE(pango_font_description_get_size_is_absolute(d));
  f.bold = true;
  EXPECT_NE(cache.Get(f), d);
  EXPECT_EQ(pango_font_description_get_weight(cache.Get(f)), PANGO_WEIGHT_BOLD);
}

// The install button's word in scripts of the program's languages: every one must shape
// with real glyphs from the skin's font and its fallbacks.
TEST(FontCacheTest, EveryScriptOfTheLanguagesHasGlyphs) {
  const wchar_t* samples[] = {L"تثبيت",        L"安装",       L"安裝",     L"Installeren",
                              L"インストール", L"설치",       L"ติดตั้ง",     L"Установить",
                              L"Εγκατάσταση",  L"התקנה",      L"Cài đặt",  L"Орнату",
                              L"Quraşdırma",   L"ინსტალაცია", L"Įdiegti",  L"Instalați",
                              L"Инсталирај",   L"Telepítés",  L"Uzstādīt", L"Setja upp"};
  CFontCache cache;
  FontInfo f;
  f.name = L"Segoe UI";
  f.size = 14;
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 10, 10);
  cairo_t* cr = cairo_create(s);
  for (const wchar_t* text : samples) {
    PangoLayout* layout = pango_cairo_create_layout(cr);
    pango_layout_set_font_description(layout, cache.Get(f));
    std::string utf8 = ToUtf8(text);
    pango_layout_set_text(layout, utf8.c_str(), -1);
    EXPECT_EQ(pango_layout_get_unknown_glyphs_count(layout), 0) << utf8;
    int w = 0, h = 0;
    pango_layout_get_pixel_size(layout, &w, &h);
    EXPECT_GT(w, 10) << utf8;
    g_object_unref(layout);
  }
  cairo_destroy(cr);
  cairo_surface_destroy(s);
}

}  // namespace
}  // namespace SkinUI
