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
  EXPECT_EQ(family, "Noto Sans");
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

// One design for every script: the family is followed by the Noto faces of the scripts it
// lacks, and the CJK face of the UI language.
TEST(FontCacheTest, TheFamilyListCoversEveryScriptInOneDesign) {
  int weight = 0;
  std::string greek = CFontCache::FamilyList(L"Segoe UI", &weight, "el");
  EXPECT_EQ(greek, "Noto Sans,Noto Sans Arabic,Noto Sans Hebrew,Noto Sans Georgian,Noto Sans Thai");
  EXPECT_EQ(CFontCache::FamilyList(L"Segoe UI", &weight, "zh-TW"), greek + ",Noto Sans CJK TC");
  EXPECT_EQ(CFontCache::FamilyList(L"Segoe UI", &weight, "zh-CN"), greek + ",Noto Sans CJK SC");
  EXPECT_EQ(CFontCache::FamilyList(L"Segoe UI", &weight, "ja"), greek + ",Noto Sans CJK JP");
  EXPECT_EQ(CFontCache::FamilyList(L"Segoe UI", &weight, "ko-KR"), greek + ",Noto Sans CJK KR");
  EXPECT_EQ(CFontCache::FamilyList(L"DejaVu Sans", &weight, "ar")
                .rfind("DejaVu Sans,Noto Sans Arabic", 0),
            0u);

  // The faces that set each script are those of the list, not a fallback of another design.
  CFontCache cache;
  FontInfo f;
  f.name = L"Segoe UI";
  f.size = 14;
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 10, 10);
  cairo_t* cr = cairo_create(s);
  const std::pair<const wchar_t*, const char*> samples[] = {
      {L"تثبيت", "Noto Sans Arabic"},        {L"התקנה", "Noto Sans Hebrew"},
      {L"ინსტალაცია", "Noto Sans Georgian"}, {L"ติดตั้ง", "Noto Sans Thai"},
      {L"Εγκατάσταση", "Noto Sans"},         {L"Установить", "Noto Sans"}};
  for (const auto& [text, face] : samples) {
    PangoLayout* layout = pango_cairo_create_layout(cr);
    pango_layout_set_font_description(layout, cache.Get(f));
    std::string utf8 = ToUtf8(text);
    pango_layout_set_text(layout, utf8.c_str(), -1);
    PangoLayoutIter* it = pango_layout_get_iter(layout);
    PangoLayoutRun* run = pango_layout_iter_get_run_readonly(it);
    ASSERT_NE(run, nullptr);
    PangoFontDescription* used = pango_font_describe(run->item->analysis.font);
    EXPECT_STREQ(pango_font_description_get_family(used), face) << utf8;
    pango_font_description_free(used);
    pango_layout_iter_free(it);
    g_object_unref(layout);
  }
  cairo_destroy(cr);
  cairo_surface_destroy(s);
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
