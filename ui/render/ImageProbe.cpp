#include "ui/render/ImageProbe.h"

#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

// clang-format off
// After <cstdio>: jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>
#include <png.h>
// clang-format on

namespace SkinUI {
namespace {

// The progressive decoders behind the toolkit's image cache accept a cut file and fill the
// missing rows, so the probe decodes with the format libraries themselves and treats every
// premature end, bad checksum or decoder warning as a refusal.

bool WithinLimits(unsigned long width, unsigned long height) {
  return width > 0 && height > 0 && width <= static_cast<unsigned long>(kMaxImageSide) &&
         height <= static_cast<unsigned long>(kMaxImageSide) &&
         static_cast<long long>(width) * static_cast<long long>(height) <= kMaxImagePixels;
}

struct MemoryReader {
  const unsigned char* data;
  std::size_t size;
  std::size_t offset;
};

void PngRead(png_structp png, png_bytep out, png_size_t length) {
  auto* r = static_cast<MemoryReader*>(png_get_io_ptr(png));
  if (length > r->size - r->offset) png_error(png, "premature end");
  std::memcpy(out, r->data + r->offset, length);
  r->offset += length;
}

void PngError(png_structp png, png_const_charp) {
  png_longjmp(png, 1);
}

void PngWarning(png_structp, png_const_charp) {}

// Plain C style on purpose: a decoder error long-jumps back here, past any destructor.
bool DecodePng(const std::vector<unsigned char>& bytes, ImageProbeResult& out) {
  MemoryReader reader{bytes.data(), bytes.size(), 0};
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, &PngError, &PngWarning);
  if (png == nullptr) return false;
  png_infop info = png_create_info_struct(png);
  png_infop endInfo = png_create_info_struct(png);
  png_bytep volatile row = nullptr;
  bool ok = false;
  if (info != nullptr && endInfo != nullptr && setjmp(png_jmpbuf(png)) == 0) {
    png_set_read_fn(png, &reader, &PngRead);
    // A damaged chunk of any kind ends the decode.
    png_set_crc_action(png, PNG_CRC_DEFAULT, PNG_CRC_ERROR_QUIT);
    png_set_user_limits(png, kMaxImageSide, kMaxImageSide);
    png_read_info(png, info);
    const png_uint_32 width = png_get_image_width(png, info);
    const png_uint_32 height = png_get_image_height(png, info);
    if (WithinLimits(width, height)) {
      const int passes = png_set_interlace_handling(png);
      png_read_update_info(png, info);
      row = static_cast<png_bytep>(png_malloc(png, png_get_rowbytes(png, info)));
      for (int pass = 0; pass < passes; ++pass) {
        for (png_uint_32 y = 0; y < height; ++y) png_read_row(png, row, nullptr);
      }
      // Up to IEND: a file cut after its pixel data is still a cut file.
      png_read_end(png, endInfo);
      out.width = static_cast<int>(width);
      out.height = static_cast<int>(height);
      ok = true;
    }
  }
  if (row != nullptr) png_free(png, row);
  png_destroy_read_struct(&png, info != nullptr ? &info : nullptr,
                          endInfo != nullptr ? &endInfo : nullptr);
  return ok;
}

struct JpegErrors {
  jpeg_error_mgr base;
  std::jmp_buf jump;
  int warnings;
};

void JpegErrorExit(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<JpegErrors*>(cinfo->err)->jump, 1);
}

void JpegMessage(j_common_ptr cinfo, int level) {
  // Level -1 is a warning: corrupt data or a premature end the library papered over.
  if (level < 0) ++reinterpret_cast<JpegErrors*>(cinfo->err)->warnings;
}

bool DecodeJpeg(const std::vector<unsigned char>& bytes, ImageProbeResult& out) {
  jpeg_decompress_struct cinfo;
  JpegErrors errors;
  cinfo.err = jpeg_std_error(&errors.base);
  errors.base.error_exit = &JpegErrorExit;
  errors.base.emit_message = &JpegMessage;
  errors.warnings = 0;
  bool ok = false;
  jpeg_create_decompress(&cinfo);
  if (setjmp(errors.jump) == 0) {
    jpeg_mem_src(&cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
    if (jpeg_read_header(&cinfo, TRUE) == JPEG_HEADER_OK &&
        WithinLimits(cinfo.image_width, cinfo.image_height)) {
      jpeg_start_decompress(&cinfo);
      // Freed with the decompressor, also after a jump.
      JSAMPARRAY rows = (*cinfo.mem->alloc_sarray)(
          reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
          cinfo.output_width * static_cast<JDIMENSION>(cinfo.output_components), 1);
      while (cinfo.output_scanline < cinfo.output_height) jpeg_read_scanlines(&cinfo, rows, 1);
      jpeg_finish_decompress(&cinfo);
      out.width = static_cast<int>(cinfo.image_width);
      out.height = static_cast<int>(cinfo.image_height);
      ok = errors.warnings == 0;
    }
  }
  jpeg_destroy_decompress(&cinfo);
  return ok;
}

bool ReadWholeFile(const std::string& path, std::uint64_t maxBytes,
                   std::vector<unsigned char>& bytes) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return false;
  const std::uintmax_t size = std::filesystem::file_size(path, ec);
  if (ec || size == 0 || size > maxBytes) return false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes.resize(static_cast<std::size_t>(size));
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size));
  // A file that changed size while being read is not the file that was measured.
  return in.gcount() == static_cast<std::streamsize>(size) && in.peek() == EOF;
}

}  // namespace

ImageProbeResult ProbeImageFile(const std::string& path, std::uint64_t maxBytes) {
  static constexpr unsigned char kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  static constexpr unsigned char kJpegSignature[3] = {0xFF, 0xD8, 0xFF};
  std::vector<unsigned char> bytes;
  ImageProbeResult result;
  if (!ReadWholeFile(path, maxBytes, bytes)) return result;
  if (bytes.size() >= sizeof kPngSignature &&
      std::memcmp(bytes.data(), kPngSignature, sizeof kPngSignature) == 0) {
    if (DecodePng(bytes, result)) result.kind = ImageKind::kPng;
  } else if (bytes.size() >= sizeof kJpegSignature &&
             std::memcmp(bytes.data(), kJpegSignature, sizeof kJpegSignature) == 0) {
    if (DecodeJpeg(bytes, result)) result.kind = ImageKind::kJpeg;
  }
  if (result.kind == ImageKind::kNone) result = ImageProbeResult{};
  return result;
}

}  // namespace SkinUI
