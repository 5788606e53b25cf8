#include "ui/render/ImageProbe.h"

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>

#include "tests/support/TestSupport.h"

namespace SkinUI {
namespace {

// A picture with enough detail that its encoded data spans many blocks.
std::string Encode(int w, int h, const char* type) {
  GdkPixbuf* pb = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, w, h);
  guchar* px = gdk_pixbuf_get_pixels(pb);
  const int stride = gdk_pixbuf_get_rowstride(pb);
  const std::string noise = kvtest::PatternBytes(static_cast<std::size_t>(w) * h * 3, 7);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w * 3; ++x) {
      px[y * stride + x] = static_cast<guchar>((x + y) / 3 + (noise[y * w * 3 + x] & 0x1F));
    }
  }
  gchar* buf = nullptr;
  gsize len = 0;
  const gboolean saved = gdk_pixbuf_save_to_buffer(pb, &buf, &len, type, nullptr, nullptr);
  g_object_unref(pb);
  std::string out = saved ? std::string(buf, len) : "";
  g_free(buf);
  return out;
}

class ImageProbeTest : public ::testing::Test {
 protected:
  ImageProbeResult Probe(const std::string& bytes, std::uint64_t max = 1 << 22) {
    kvtest::WriteFile(dir_ / "image", bytes);
    return ProbeImageFile((dir_ / "image").string(), max);
  }
  kvtest::TempDir dir_;
};

TEST_F(ImageProbeTest, WholePngAndJpegPass) {
  const std::string png = Encode(65, 29, "png");
  const ImageProbeResult p = Probe(png);
  EXPECT_EQ(ImageKind::kPng, p.kind);
  EXPECT_EQ(65, p.width);
  EXPECT_EQ(29, p.height);
  const ImageProbeResult j = Probe(Encode(64, 30, "jpeg"));
  EXPECT_EQ(ImageKind::kJpeg, j.kind);
  EXPECT_EQ(64, j.width);
  EXPECT_EQ(30, j.height);
  // The size bound is on the file, not the picture.
  EXPECT_EQ(ImageKind::kPng, Probe(png, png.size()).kind);
  EXPECT_EQ(ImageKind::kNone, Probe(png, png.size() - 1).kind);
}

// The toolkit's own decoder shows a cut file with its missing rows filled in; the probe must
// refuse it wherever the cut falls, also just before the PNG's end chunk.
TEST_F(ImageProbeTest, CutOrDamagedFilesFail) {
  const std::string png = Encode(200, 120, "png");
  const std::string jpeg = Encode(200, 120, "jpeg");
  for (std::size_t keep :
       {std::size_t{8}, std::size_t{40}, png.size() / 2, png.size() - 12, png.size() - 1}) {
    EXPECT_EQ(ImageKind::kNone, Probe(png.substr(0, keep)).kind) << keep;
  }
  for (std::size_t keep : {std::size_t{3}, std::size_t{200}, jpeg.size() / 2, jpeg.size() - 2}) {
    EXPECT_EQ(ImageKind::kNone, Probe(jpeg.substr(0, keep)).kind) << keep;
  }
  std::string flipped = png;
  flipped[png.size() / 2] = static_cast<char>(flipped[png.size() / 2] ^ 0x40);
  EXPECT_EQ(ImageKind::kNone, Probe(flipped).kind);
}

TEST_F(ImageProbeTest, OtherFormatsAndPagesFail) {
  EXPECT_EQ(ImageKind::kNone, Probe(Encode(20, 20, "bmp")).kind);
  EXPECT_EQ(ImageKind::kNone, Probe(Encode(20, 20, "tiff")).kind);
  EXPECT_EQ(ImageKind::kNone, Probe("<html><body><h1>Service unavailable</h1></body></html>").kind);
  EXPECT_EQ(ImageKind::kNone, Probe("").kind);
  EXPECT_EQ(ImageKind::kNone, ProbeImageFile((dir_ / "missing").string(), 100).kind);
  EXPECT_EQ(ImageKind::kNone, ProbeImageFile(dir_.path().string(), 100).kind);
}

TEST_F(ImageProbeTest, PicturesPastThePixelLimitsFail) {
  // Small files, huge pictures: refused from their headers.
  EXPECT_EQ(ImageKind::kNone, Probe(Encode(kMaxImageSide + 1, 1, "png")).kind);
  EXPECT_EQ(ImageKind::kNone, Probe(Encode(1, kMaxImageSide + 1, "jpeg")).kind);
  EXPECT_EQ(ImageKind::kPng, Probe(Encode(kMaxImageSide, 1, "png")).kind);
}

}  // namespace
}  // namespace SkinUI
