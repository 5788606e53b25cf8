// clang-format off
#include "ui/render/RenderContext.h"
// clang-format on

#include <cairo.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>

#include "tests/support/TestSupport.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/controls/Button.h"
#include "ui/controls/Label.h"
#include "ui/controls/Option.h"
#include "ui/controls/Progress.h"
#include "ui/controls/TabLayout.h"
#include "ui/render/UiLanguage.h"

namespace SkinUI {
namespace {

using uitest::RecordingWindow;

// A rendered frame with pixel access (0xRRGGBB of opaque pixels).
class Frame {
 public:
  explicit Frame(cairo_surface_t* s) : s_(s) {}
  ~Frame() { cairo_surface_destroy(s_); }
  Frame(const Frame&) = delete;
  int width() const { return cairo_image_surface_get_width(s_); }
  int height() const { return cairo_image_surface_get_height(s_); }
  std::uint32_t At(int x, int y) const {
    const unsigned char* data = cairo_image_surface_get_data(s_);
    int stride = cairo_image_surface_get_stride(s_);
    return *reinterpret_cast<const std::uint32_t*>(data + y * stride + x * 4) & 0xFFFFFF;
  }
  int Count(const UiRect& r, std::uint32_t rgb) const {
    int n = 0;
    for (int y = r.top; y < r.bottom; ++y) {
      for (int x = r.left; x < r.right; ++x) n += At(x, y) == rgb;
    }
    return n;
  }
  // Leftmost x in r holding the colour, -1 when none.
  int FirstX(const UiRect& r, std::uint32_t rgb) const {
    for (int x = r.left; x < r.right; ++x) {
      for (int y = r.top; y < r.bottom; ++y) {
        if (At(x, y) == rgb) return x;
      }
    }
    return -1;
  }

 private:
  cairo_surface_t* s_;
};

constexpr std::uint32_t kTeal = 0x04A68D;
constexpr std::uint32_t kWhite = 0xFFFFFF;

class RenderTest : public ::testing::Test {
 protected:
  void Open(const std::wstring& file = L"skin.xml") {
    window_ = std::make_unique<RecordingWindow>(UILIB_ZIPRESOURCE, L"", file);
    ASSERT_TRUE(window_->Create(L"KVDownloader")) << window_->loadError;
  }
  CPaintManagerUI& pm() { return window_->GetPaintManager(); }
  std::unique_ptr<Frame> Render(int scale = 1) {
    return std::make_unique<Frame>(window_->host().Render(scale));
  }
  CControlUI* Find(const wchar_t* name) { return pm().FindControl(name); }
  void ShowBannerPage() {
    dynamic_cast<CTabLayoutUI*>(Find(L"switch"))->SelectItem(1, Notification::kSilent);
  }

  uitest::HeadlessScope scope_;
  std::unique_ptr<RecordingWindow> window_;
};

TEST_F(RenderTest, LicenceLineDrawsTheColourTagAndTheButtonColour) {
  Open();
  Find(L"btn_lisence")
      ->SetText(L"I've read and agreed to {c #2FFFF3}Korvana License Agreement{/c}");
  auto f = Render();
  UiRect r = Find(L"btn_lisence")->GetPos();
  int cyan = f->Count(r, 0x2FFFF3);
  int white = f->Count(r, kWhite);
  EXPECT_GT(cyan, 40);
  EXPECT_GT(white, 40);
  // The coloured words come after the white ones.
  EXPECT_GT(f->FirstX(r, 0x2FFFF3), f->FirstX(r, kWhite) + 100);
  // Nothing of the licence colour outside the button.
  EXPECT_EQ(f->Count(Find(L"chk_fold")->GetPos(), 0x2FFFF3), 0);
}

TEST_F(RenderTest, LinksTakeTheLinkColourAndTheHoverColourUnderTheMouse) {
  Open();
  auto* licence = dynamic_cast<CLabelUI*>(Find(L"btn_lisence"));
  ASSERT_NE(licence, nullptr);
  auto f = Render();
  UiRect r = licence->GetPos();
  ASSERT_EQ(licence->GetLinkAreas().size(), 1u);
  const LinkArea& link = licence->GetLinkAreas()[0];
  EXPECT_EQ(link.target, L"licence");
  EXPECT_GT(link.rect.left, r.left + 100);
  EXPECT_LE(link.rect.right, r.right);
  std::uint32_t normal = pm().GetLinkColor() & 0xFFFFFF;
  std::uint32_t hover = pm().GetLinkHoverColor() & 0xFFFFFF;
  EXPECT_GT(f->Count(link.rect, normal), 40);
  EXPECT_EQ(f->Count(link.rect, hover), 0);
  // Text before the link stays in the button's white.
  EXPECT_EQ(f->Count(UiRect{r.left, r.top, link.rect.left, r.bottom}, normal), 0);
  window_->host().MouseMove((link.rect.left + link.rect.right) / 2,
                            (link.rect.top + link.rect.bottom) / 2);
  auto hot = Render();
  EXPECT_GT(hot->Count(link.rect, hover), 40);
  EXPECT_EQ(hot->Count(link.rect, normal), 0);
}

TEST_F(RenderTest, TextColourAlphaIsIgnoredAndStateImagesFollowTheMouse) {
  Open();
  Find(L"btn_start")->SetVisible(false);
  auto normal = Render();
  UiRect r = Find(L"btn_install")->GetPos();
  // "#00FFFFFF" draws white text.
  EXPECT_GT(normal->Count(r, kWhite), 100);
  UiPoint c = uitest::Centre(Find(L"btn_install"));
  window_->host().MouseMove(c.x, c.y);
  auto hot = Render();
  int differing = 0;
  for (int x = r.left; x < r.right; ++x)
    differing += normal->At(x, r.top + 5) != hot->At(x, r.top + 5);
  EXPECT_GT(differing, 50) << "the hot image should replace the normal one";
  Find(L"btn_install")->SetEnabled(false);
  auto disabled = Render();
  EXPECT_NE(disabled->At(r.left + 20, r.top + 5), hot->At(r.left + 20, r.top + 5));
}

TEST_F(RenderTest, ProgressForeImageCoversTheValue) {
  Open();
  ShowBannerPage();
  auto* bar = dynamic_cast<CProgressUI*>(Find(L"progress_download"));
  auto f = Render();
  const UiRect& r = bar->GetPos();
  int y = (r.top + r.bottom) / 2;
  std::uint32_t back = 0x14DFD3;
  EXPECT_EQ(f->At(r.left + 300, y), back);
  std::uint32_t fore = f->At(r.left + 60, y);
  EXPECT_NE(fore, back);
  EXPECT_NE(f->At(r.left + 127, y), back);
  EXPECT_EQ(f->At(r.left + 131, y), back);
  bar->SetValue(0);
  EXPECT_EQ(Render()->At(r.left + 60, y), back);
  bar->SetValue(100);
  f = Render();
  EXPECT_NE(f->At(r.right - 10, y), back);
  bar->SetValue(250);
  EXPECT_EQ(bar->GetValue(), 100);
}

TEST_F(RenderTest, RightToLeftSkinDrawsInMirroredOrder) {
  Open(L"skin.xml");
  auto ltr = Render();
  UiRect ltrFold = pm().FindControl(L"chk_fold")->GetPos();
  Open(L"skin_rtl.xml");
  auto rtl = Render();
  // The title bar image: left in one, right in the other.
  UiRect left{11, 6, 119, 37};
  UiRect right{531, 6, 639, 37};
  int ltrLeftInk = left.GetWidth() * left.GetHeight() - ltr->Count(left, kTeal);
  int rtlLeftInk = left.GetWidth() * left.GetHeight() - rtl->Count(left, kTeal);
  int rtlRightInk = right.GetWidth() * right.GetHeight() - rtl->Count(right, kTeal);
  EXPECT_GT(ltrLeftInk, 200);
  EXPECT_GT(rtlRightInk, 200);
  EXPECT_LT(rtlLeftInk, ltrLeftInk / 4);
  // The fold box: on the right end of "chk_fold" left-to-right, on its left end mirrored.
  UiRect fold = pm().FindControl(L"chk_fold")->GetPos();
  UiRect box{fold.left, fold.top + 8, fold.left + 14, fold.top + 22};
  EXPECT_GT(box.GetWidth() * box.GetHeight() - rtl->Count(box, kTeal), 20);
  UiRect ltrLeftEnd{ltrFold.left, ltrFold.top + 8, ltrFold.left + 14, ltrFold.top + 22};
  EXPECT_EQ(ltr->Count(ltrLeftEnd, kTeal), 14 * 14);
  UiRect ltrBox{ltrFold.left + 182, ltrFold.top + 8, ltrFold.left + 196, ltrFold.top + 22};
  EXPECT_GT(14 * 14 - ltr->Count(ltrBox, kTeal), 20);
}

TEST_F(RenderTest, RightToLeftTextKeepsTheSkinAlignment) {
  Open(L"skin_rtl.xml");
  Find(L"bottomLayout")->SetVisible(true);
  window_->ResizeClient(650, 435);
  Find(L"label_path")->SetText(L"المسار");
  Find(L"label_tip")->SetText(L"المسار غير صالح");
  Find(L"label_tip")->SetVisible(true);
  auto f = Render();
  // "label_path" is left-aligned and "label_tip" right-aligned in the mirrored skin, whatever
  // the direction of the text itself.
  for (const wchar_t* name : {L"label_path", L"label_tip"}) {
    UiRect r = Find(name)->GetPos();
    std::uint32_t ink = std::wstring(name) == L"label_path" ? kWhite : 0xFF0000;
    int first = f->FirstX(r, ink);
    int last = -1;
    for (int x = r.right - 1; x >= r.left && last < 0; --x) {
      for (int y = r.top; y < r.bottom; ++y) {
        if (f->At(x, y) == ink) {
          last = x;
          break;
        }
      }
    }
    ASSERT_GE(first, 0) << name;
    if (std::wstring(name) == L"label_path") {
      EXPECT_LT(first - r.left, 10) << "left-aligned";
      EXPECT_GT(r.right - last, 20);
    } else {
      EXPECT_LT(r.right - last, 10) << "right-aligned";
      EXPECT_GT(first - r.left, 20);
    }
  }
}

TEST_F(RenderTest, ImagesFromDiskReloadWhenTheFileChangesAndMissingOnesDrawNothing) {
  Open();
  ShowBannerPage();
  kvtest::TempDir dir;
  std::string path = (dir / "banner.png").string();
  auto writePng = [&](double r, double g, double b) {
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 650, 290);
    cairo_t* cr = cairo_create(s);
    cairo_set_source_rgb(cr, r, g, b);
    cairo_paint(cr);
    cairo_destroy(cr);
    ASSERT_EQ(cairo_surface_write_to_png(s, path.c_str()), CAIRO_STATUS_SUCCESS);
    cairo_surface_destroy(s);
  };
  writePng(1, 0, 0);
  CControlUI* banner = Find(L"banner");
  banner->SetBkImage(std::wstring(path.begin(), path.end()));
  EXPECT_EQ(Render()->At(300, 100), 0xFF0000u);
  writePng(0, 0, 1);
  // A newer file under the same name is read again (the write may share a time stamp).
  std::filesystem::last_write_time(
      path, std::filesystem::last_write_time(path) + std::chrono::seconds(2));
  EXPECT_EQ(Render()->At(300, 100), 0x0000FFu);
  // Banners may come in other formats too.
  std::string jpeg = (dir / "banner.jpg").string();
  writePng(0, 1, 0);
  GdkPixbuf* png = gdk_pixbuf_new_from_file(path.c_str(), nullptr);
  ASSERT_NE(png, nullptr);
  ASSERT_TRUE(gdk_pixbuf_save(png, jpeg.c_str(), "jpeg", nullptr, "quality", "95", nullptr));
  g_object_unref(png);
  banner->SetBkImage(std::wstring(jpeg.begin(), jpeg.end()));
  std::uint32_t green = Render()->At(300, 100);
  EXPECT_LT((green >> 16) & 0xFF, 8u);
  EXPECT_GT((green >> 8) & 0xFF, 245u);
  banner->SetBkImage(L"/nonexistent/language/pr_01.png");
  EXPECT_EQ(Render()->At(300, 100), kTeal);
}

TEST_F(RenderTest, DescriptorDestPlacesTheBoxAndScaleTwoStaysCrisp) {
  Open();
  auto f1 = Render();
  UiRect agree = Find(L"chk_agree")->GetPos();
  // Unchecked box drawn at x 0..14, y 8..22 of the 20 x 30 control; nothing above it.
  UiRect above{agree.left, agree.top, agree.right, agree.top + 7};
  EXPECT_EQ(f1->Count(above, kTeal), above.GetWidth() * above.GetHeight());
  UiRect box{agree.left, agree.top + 8, agree.left + 14, agree.top + 22};
  EXPECT_GT(14 * 14 - f1->Count(box, kTeal), 20);
  auto* cb = dynamic_cast<CCheckBoxUI*>(Find(L"chk_agree"));
  cb->SetCheck(true, Notification::kSilent);
  auto checked = Render();
  int changed = 0;
  for (int y = box.top; y < box.bottom; ++y) {
    for (int x = box.left; x < box.right; ++x) changed += f1->At(x, y) != checked->At(x, y);
  }
  EXPECT_GT(changed, 10);

  auto f2 = Render(2);
  EXPECT_EQ(f2->width(), 1300);
  EXPECT_EQ(f2->height(), 720);
  EXPECT_EQ(f2->At(2 * 300 + 1, 2 * 250 + 1), kTeal);
  EXPECT_EQ(f2->At(2 * 325, 2 * 312 + 1), kWhite);  // the 1-pixel white line, 2 pixels high
  EXPECT_EQ(f2->At(2 * 325, 2 * 312 - 1), kTeal);
}

TEST_F(RenderTest, AtScaleTwoSkinImagesComeFromTheirTwinsWithSharpEdges) {
  Open();
  auto f1 = Render(1);
  auto f2 = Render(2);
  UiRect b = Find(L"btn_install")->GetPos();
  int y = (b.top + b.bottom) / 2;
  // The face's left edge: at scale 1 the outer pixel is half covered; the twin puts that edge
  // between two device pixels, where a doubled 1x image would repeat the half-covered one.
  std::uint32_t half = f1->At(b.left, y);
  EXPECT_NE(half, kTeal);
  EXPECT_NE(half, f1->At(b.left + 1, y));
  std::uint32_t outer = f2->At(2 * b.left, 2 * y);
  std::uint32_t inner = f2->At(2 * b.left + 1, 2 * y);
  EXPECT_EQ(outer, kTeal);
  EXPECT_EQ(inner, f1->At(b.left + 1, y));
  EXPECT_NE(outer, inner);
}

TEST_F(RenderTest, AnImageWithoutATwinIsSmoothedNotDoubledAtScaleTwo) {
  Open();
  kvtest::TempDir dir;
  // A banner of exactly the control's size, black on the left half and white on the right.
  // At scale 2 it is enlarged: the seam must blend, not jump between doubled pixels.
  GdkPixbuf* pb = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, 650, 290);
  for (int y = 0; y < 290; ++y) {
    guchar* row = gdk_pixbuf_get_pixels(pb) + y * gdk_pixbuf_get_rowstride(pb);
    for (int x = 0; x < 650; ++x) row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = x < 325 ? 0 : 255;
  }
  std::string path = (dir.path() / "seam.png").string();
  ASSERT_TRUE(gdk_pixbuf_save(pb, path.c_str(), "png", nullptr, nullptr));
  g_object_unref(pb);
  ShowBannerPage();
  CControlUI* banner = Find(L"banner");
  banner->SetBkImage(std::wstring(path.begin(), path.end()));
  auto f = Render(2);
  const UiRect& r = banner->GetPos();
  ASSERT_EQ(r.GetWidth(), 650);
  int y = 2 * (r.top + 100);
  int greys = 0;
  for (int x = 2 * r.left; x < 2 * r.right; ++x) {
    std::uint32_t p = f->At(x, y);
    greys += p != 0x000000 && p != 0xFFFFFF;
  }
  EXPECT_GE(greys, 1);
  EXPECT_LE(greys, 8);
}

TEST_F(RenderTest, GreekInstallTextIsDrawnWholeInsideTheButton) {
  Open();
  auto* install = dynamic_cast<CButtonUI*>(Find(L"btn_install"));
  install->SetText(L"Εγκατάσταση");  // 176 pixels at the skin's size: wider than the button
  auto f = Render();
  const UiRect& b = install->GetPos();
  const TextFit& fit = install->GetTextFit();
  EXPECT_FALSE(fit.ellipsized);
  EXPECT_LT(fit.scale, 1.0);
  EXPECT_GE(fit.scale, kMinTextScale);
  EXPECT_EQ(fit.available, b.GetWidth() - 2 * CButtonUI::kMinSidePadding);
  // The white ink of the letters stays 12 pixels clear of either side and spans nearly all of
  // the room between: the whole word, not a word cut short.
  int first = b.right, last = b.left - 1;
  for (int y = b.top; y < b.bottom; ++y) {
    for (int x = b.left; x < b.right; ++x) {
      std::uint32_t p = f->At(x, y);
      if (((p >> 16) & 0xFF) > 200 && ((p >> 8) & 0xFF) > 200 && (p & 0xFF) > 200) {
        first = std::min(first, x);
        last = std::max(last, x);
      }
    }
  }
  EXPECT_GE(first, b.left + CButtonUI::kMinSidePadding);
  EXPECT_LT(last, b.right - CButtonUI::kMinSidePadding);
  EXPECT_GT(last - first, 130);
  // A text that fits is left at its size; one far too long ends in an ellipsis at 80 %.
  install->SetText(L"Setup");
  Render();
  EXPECT_EQ(install->GetTextFit().scale, 1.0);
  install->SetText(L"Installationsassistent starten");
  Render();
  EXPECT_TRUE(install->GetTextFit().ellipsized);
  EXPECT_NEAR(install->GetTextFit().scale, kMinTextScale, 1e-9);
}

TEST_F(RenderTest, TheKeyboardFocusRingShowsAtScaleTwoLightOnDarkAndDarkOnLight) {
  Open();
  Find(L"btn_start")->SetVisible(false);
  auto before = Render(2);
  UiRect b = Find(L"btn_install")->GetPos();
  int y = 2 * ((b.top + b.bottom) / 2);
  // The ring: two pixels just outside the button, four device pixels at scale 2.
  auto ringAt = [&](const Frame& f, int x) { return f.At(x, y); };
  for (int x = 2 * b.left - 4; x < 2 * b.left; ++x) EXPECT_EQ(ringAt(*before, x), kTeal);
  for (int i = 0; i < 8 && pm().GetFocus() != Find(L"btn_install"); ++i) {
    window_->host().KeyPress(Key::kTab);
  }
  ASSERT_EQ(pm().GetFocus(), Find(L"btn_install"));
  auto ring = Render(2);
  for (int x = 2 * b.left - 4; x < 2 * b.left; ++x) EXPECT_EQ(ringAt(*ring, x), kWhite) << x;
  EXPECT_EQ(ringAt(*ring, 2 * b.left - 5), kTeal);
  EXPECT_EQ(ringAt(*ring, 2 * b.left + 1), ringAt(*before, 2 * b.left + 1));  // the face itself
  EXPECT_EQ(ring->At(2 * ((b.left + b.right) / 2), 2 * b.top - 2), kWhite);
  // A press of the mouse takes the ring away; the focus stays where the press put it.
  window_->host().Click((b.left + b.right) / 2, (b.top + b.bottom) / 2);
  EXPECT_EQ(pm().GetFocus(), Find(L"btn_install"));
  auto pressed = Render(2);
  EXPECT_EQ(ringAt(*pressed, 2 * b.left - 2), kTeal);

  // On the white row of the banner page the ring is dark.
  ShowBannerPage();
  for (int i = 0; i < 8 && pm().GetFocus() != Find(L"btn_hide"); ++i) {
    window_->host().KeyPress(Key::kTab);
  }
  ASSERT_EQ(pm().GetFocus(), Find(L"btn_hide"));
  auto banner = Render(2);
  UiRect h = Find(L"btn_hide")->GetPos();
  std::uint32_t dark = banner->At(2 * h.left - 2, 2 * ((h.top + h.bottom) / 2));
  EXPECT_LT(((dark >> 16) & 0xFF) + ((dark >> 8) & 0xFF) + (dark & 0xFF), 200u);
}

TEST_F(RenderTest, HanCharactersTakeTheFaceOfTheUiLanguage) {
  Open();
  auto* label = dynamic_cast<CLabelUI*>(Find(L"label_path"));
  Find(L"bottomLayout")->SetVisible(true);
  window_->ResizeClient(650, 435);
  label->SetText(L"直角骨");  // shapes that differ between the Chinese and Japanese faces
  auto pixels = [&](const std::string& language) {
    SetUiLanguage(language);
    auto f = Render(2);
    const UiRect& r = label->GetPos();
    std::vector<std::uint32_t> v;
    for (int y = 2 * r.top; y < 2 * r.bottom; ++y) {
      for (int x = 2 * r.left; x < 2 * r.right; ++x) v.push_back(f->At(x, y));
    }
    return v;
  };
  auto japanese = pixels("ja");
  auto simplified = pixels("zh-CN");
  auto traditional = pixels("zh-TW");
  auto japaneseAgain = pixels("ja");
  SetUiLanguage("");
  EXPECT_EQ(japanese, japaneseAgain);
  EXPECT_NE(japanese, simplified);
  EXPECT_NE(simplified, traditional);
}

}  // namespace
}  // namespace SkinUI
