// Decoded skin images (PNG and JPEG), kept as premultiplied cairo surfaces.
// Images from disk are re-read when the file changes. UI thread.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ui/core/Types.h"

typedef struct _cairo_surface cairo_surface_t;

namespace SkinUI {

class CSkinResources;

class CSkinImage {
 public:
  CSkinImage(cairo_surface_t* surface, int width, int height);
  ~CSkinImage();
  CSkinImage(const CSkinImage&) = delete;
  CSkinImage& operator=(const CSkinImage&) = delete;
  cairo_surface_t* surface() const { return surface_; }
  // In image pixels.
  int width() const { return width_; }
  int height() const { return height_; }
  // Image pixels per skin pixel: 2 for the "@2x" twin of a skin image, else 1.
  int density() const { return density_; }
  void set_density(int density) { density_ = density; }

 private:
  cairo_surface_t* surface_;
  int width_;
  int height_;
  int density_ = 1;
};

// The name of a skin image's double-density twin: "img\logo.png" -> "img\logo@2x.png".
std::wstring DoubleDensityName(const std::wstring& name);

// "png" or "jpeg" when the bytes start like one, else null. Any thread.
const char* ImageFormatOf(const unsigned char* data, std::size_t size);

// Decodes PNG or JPEG bytes (nothing else is tried); pixels of the mask colour (RGB) become
// transparent. Null on failure and for pictures wider or taller than 8192 pixels or of more than 32
// Mi pixels. Any thread.
std::shared_ptr<CSkinImage> DecodeImage(const std::vector<unsigned char>& bytes,
                                        std::optional<UiColor> mask);

class CImageCache {
 public:
  void SetResources(const CSkinResources* resources) { resources_ = resources; }
  // Null when the image is found nowhere or cannot be decoded. With density 2 (a display scale
  // above 1) the skin package's "@2x" twin is preferred when it has one.
  std::shared_ptr<CSkinImage> Get(const std::wstring& name, std::optional<UiColor> mask,
                                  int density = 1);
  void Clear() { entries_.clear(); }

 private:
  struct Entry {
    std::shared_ptr<CSkinImage> image;
    bool fromDisk = false;
    long long mtime = 0;
    long long size = 0;
  };
  const CSkinResources* resources_ = nullptr;
  std::map<std::wstring, Entry> entries_;
};

}  // namespace SkinUI
