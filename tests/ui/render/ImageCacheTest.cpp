#include "ui/render/ImageCache.h"

#include <cairo.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>

#include <cstring>

namespace SkinUI {
namespace {

// A picture of the given size in a gdk-pixbuf format, every pixel (r, g, b, a).
std::vector<unsigned char> MakeImage(const char* format, int w, int h, guchar r, guchar g, guchar b,
                                     guchar a) {
  GdkPixbuf* pb = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, w, h);
  guchar* px = gdk_pixbuf_get_pixels(pb);
  int stride = gdk_pixbuf_get_rowstride(pb);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      guchar* p = px + y * stride + x * 4;
      p[0] = r, p[1] = g, p[2] = b, p[3] = a;
    }
  }
  gchar* buf = nullptr;
  gsize len = 0;
  gboolean saved = gdk_pixbuf_save_to_buffer(pb, &buf, &len, format, nullptr, nullptr);
  g_object_unref(pb);
  std::vector<unsigned char> out;
  if (saved) out.assign(buf, buf + len);
  g_free(buf);
  return out;
}

std::vector<unsigned char> MakePng(int w, int h, guchar r, guchar g, guchar b, guchar a) {
  return MakeImage("png", w, h, r, g, b, a);
}

std::uint32_t PixelAt(const CSkinImage& img, int x, int y) {
  cairo_surface_t* s = img.surface();
  const unsigned char* row =
      cairo_image_surface_get_data(s) + y * cairo_image_surface_get_stride(s);
  std::uint32_t v;
  std::memcpy(&v, row + x * 4, 4);
  return v;
}

TEST(ImageCacheTest, DecodesPremultipliedAndAppliesTheMask) {
  auto half = DecodeImage(MakePng(3, 2, 200, 100, 50, 128), std::nullopt);
  ASSERT_NE(half, nullptr);
  EXPECT_EQ(half->width(), 3);
  EXPECT_EQ(half->height(), 2);
  EXPECT_EQ(PixelAt(*half, 2, 1), 0x80643219u);  // 200*128/255 = 100, 50, 25
  auto masked = DecodeImage(MakePng(2, 2, 255, 0, 255, 255), UiColor{0xFFFF00FF});
  ASSERT_NE(masked, nullptr);
  EXPECT_EQ(PixelAt(*masked, 1, 1), 0u);
}

TEST(ImageCacheTest, OnlyPngAndJpegAreDecoded) {
  auto jpeg = DecodeImage(MakeImage("jpeg", 16, 16, 0, 200, 0, 255), std::nullopt);
  ASSERT_NE(jpeg, nullptr);
  EXPECT_EQ(jpeg->width(), 16);
  // Formats gdk-pixbuf itself reads well are still refused: no other loader is ever tried.
  for (const char* other : {"bmp", "tiff", "ico"}) {
    std::vector<unsigned char> bytes = MakeImage(other, 16, 16, 0, 200, 0, 255);
    ASSERT_FALSE(bytes.empty()) << other;
    EXPECT_EQ(DecodeImage(bytes, std::nullopt), nullptr) << other;
  }
  // A PNG cut after its signature is not handed to another decoder either.
  std::vector<unsigned char> png = MakePng(4, 4, 1, 2, 3, 255);
  png.resize(8);
  EXPECT_EQ(DecodeImage(png, std::nullopt), nullptr);
}

TEST(ImageCacheTest, RefusesGarbageAndOversizedPictures) {
  EXPECT_EQ(DecodeImage({}, std::nullopt), nullptr);
  EXPECT_EQ(DecodeImage({'G', 'I', 'F', '8', '9', 'a', 1, 2, 3}, std::nullopt), nullptr);
  std::vector<unsigned char> png = MakePng(40, 40, 1, 2, 3, 255);
  png.resize(20);
  EXPECT_EQ(DecodeImage(png, std::nullopt), nullptr);
  // Cheap to send, expensive to unpack: refused from the header alone.
  EXPECT_EQ(DecodeImage(MakePng(20000, 1, 0, 0, 0, 255), std::nullopt), nullptr);
  EXPECT_EQ(DecodeImage(MakePng(1, 9000, 0, 0, 0, 255), std::nullopt), nullptr);
  EXPECT_NE(DecodeImage(MakePng(8192, 1, 0, 0, 0, 255), std::nullopt), nullptr);
}

}  // namespace
}  // namespace SkinUI
