#include "ui/render/ImageCache.h"

#include <cairo.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <sys/stat.h>

#include <cstring>

#include "ui/core/SkinResources.h"
#include "ui/core/Utf.h"

namespace SkinUI {
namespace {

bool StatFile(const std::wstring& name, long long& mtime, long long& size) {
  struct stat st;
  if (::stat(ToUtf8(name).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  mtime = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
  size = static_cast<long long>(st.st_size);
  return true;
}

// Banners come from the network: a header claiming a huge picture must not make us allocate it.
constexpr int kMaxSide = 8192;
constexpr long long kMaxPixels = 32LL * 1024 * 1024;

void OnSizePrepared(GdkPixbufLoader* loader, int width, int height, gpointer tooBig) {
  if (width > kMaxSide || height > kMaxSide ||
      static_cast<long long>(width) * height > kMaxPixels) {
    *static_cast<bool*>(tooBig) = true;
    // A zero size makes the loaders stop before they allocate the pixels.
    gdk_pixbuf_loader_set_size(loader, 0, 0);
  }
}

}  // namespace

CSkinImage::CSkinImage(cairo_surface_t* surface, int width, int height)
    : surface_(surface), width_(width), height_(height) {}

CSkinImage::~CSkinImage() {
  cairo_surface_destroy(surface_);
}

const char* ImageFormatOf(const unsigned char* data, std::size_t size) {
  static const unsigned char kPng[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  static const unsigned char kJpeg[] = {0xFF, 0xD8, 0xFF};
  if (size >= sizeof kPng && std::memcmp(data, kPng, sizeof kPng) == 0) return "png";
  if (size >= sizeof kJpeg && std::memcmp(data, kJpeg, sizeof kJpeg) == 0) return "jpeg";
  return nullptr;
}

std::shared_ptr<CSkinImage> DecodeImage(const std::vector<unsigned char>& bytes,
                                        std::optional<UiColor> mask) {
  // Only the two formats skins and banners use: the program may run as root, and the other
  // installed loaders are more code than we want to expose to bytes from the network.
  const char* format = ImageFormatOf(bytes.data(), bytes.size());
  if (format == nullptr) return nullptr;
  GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_type(format, nullptr);
  if (loader == nullptr) return nullptr;
  bool tooBig = false;
  g_signal_connect(loader, "size-prepared", G_CALLBACK(OnSizePrepared), &tooBig);
  GError* err = nullptr;
  bool ok = gdk_pixbuf_loader_write(loader, bytes.data(), bytes.size(), &err);
  if (err) g_clear_error(&err);
  ok = gdk_pixbuf_loader_close(loader, &err) && ok;
  if (err) g_clear_error(&err);
  GdkPixbuf* pb = ok && !tooBig ? gdk_pixbuf_loader_get_pixbuf(loader) : nullptr;
  if (pb == nullptr || gdk_pixbuf_get_n_channels(pb) < 3) {
    g_object_unref(loader);
    return nullptr;
  }
  int w = gdk_pixbuf_get_width(pb);
  int h = gdk_pixbuf_get_height(pb);
  int channels = gdk_pixbuf_get_n_channels(pb);
  bool alpha = gdk_pixbuf_get_has_alpha(pb);
  int srcStride = gdk_pixbuf_get_rowstride(pb);
  const guchar* src = gdk_pixbuf_read_pixels(pb);
  cairo_surface_t* surf = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
  if (cairo_surface_status(surf) != CAIRO_STATUS_SUCCESS || w <= 0 || h <= 0) {
    cairo_surface_destroy(surf);
    g_object_unref(loader);
    return nullptr;
  }
  cairo_surface_flush(surf);
  unsigned char* dst = cairo_image_surface_get_data(surf);
  int dstStride = cairo_image_surface_get_stride(surf);
  for (int y = 0; y < h; ++y) {
    const guchar* s = src + static_cast<std::ptrdiff_t>(y) * srcStride;
    auto* d = reinterpret_cast<std::uint32_t*>(dst + static_cast<std::ptrdiff_t>(y) * dstStride);
    for (int x = 0; x < w; ++x, s += channels) {
      std::uint32_t r = s[0], g = s[1], b = s[2];
      std::uint32_t a = alpha ? s[3] : 255;
      if (mask && ((r << 16) | (g << 8) | b) == (*mask & 0xFFFFFF)) a = 0;
      // cairo wants premultiplied colour.
      r = (r * a + 127) / 255;
      g = (g * a + 127) / 255;
      b = (b * a + 127) / 255;
      d[x] = (a << 24) | (r << 16) | (g << 8) | b;
    }
  }
  cairo_surface_mark_dirty(surf);
  g_object_unref(loader);
  return std::make_shared<CSkinImage>(surf, w, h);
}

std::wstring DoubleDensityName(const std::wstring& name) {
  std::size_t slash = name.find_last_of(L"/\\");
  std::size_t dot = name.rfind(L'.');
  if (dot == std::wstring::npos || (slash != std::wstring::npos && dot < slash)) {
    return name + L"@2x";
  }
  return name.substr(0, dot) + L"@2x" + name.substr(dot);
}

std::shared_ptr<CSkinImage> CImageCache::Get(const std::wstring& name, std::optional<UiColor> mask,
                                             int density) {
  if (name.empty()) return nullptr;
  std::wstring key = name;
  if (mask) key += L"|" + std::to_wstring(*mask & 0xFFFFFF);
  if (density >= 2 && resources_ != nullptr) {
    // Twins come from the package only, which never changes: a missing one is remembered too.
    std::wstring twinKey = L"@2x|" + key;
    auto twin = entries_.find(twinKey);
    if (twin == entries_.end()) {
      Entry e;
      std::vector<unsigned char> bytes;
      if (resources_->ReadSkinFile(DoubleDensityName(name), bytes)) {
        e.image = DecodeImage(bytes, mask);
        if (e.image) e.image->set_density(2);
      }
      twin = entries_.emplace(twinKey, e).first;
    }
    if (twin->second.image) return twin->second.image;
  }
  auto it = entries_.find(key);
  if (it != entries_.end()) {
    if (!it->second.fromDisk) return it->second.image;
    long long mtime = 0, size = 0;
    if (StatFile(name, mtime, size) && mtime == it->second.mtime && size == it->second.size) {
      return it->second.image;
    }
    entries_.erase(it);
  }
  std::vector<unsigned char> bytes;
  Entry e;
  if (resources_ != nullptr && resources_->ReadSkinFile(name, bytes)) {
    e.fromDisk = false;
  } else {
    if (!StatFile(name, e.mtime, e.size)) return nullptr;
    CSkinResources none;
    if (resources_ == nullptr ? !none.ReadImage(name, bytes)
                              : !resources_->ReadImage(name, bytes)) {
      return nullptr;
    }
    e.fromDisk = true;
  }
  e.image = DecodeImage(bytes, mask);
  if (!e.image) return nullptr;
  entries_[key] = e;
  return e.image;
}

}  // namespace SkinUI
