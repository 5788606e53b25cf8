// Checks that a file is a picture the toolkit may show: a PNG or a JPEG, recognised by its
// signature and decoded completely by that format's decoder alone (no other installed decoder
// is ever tried), within the toolkit's pixel limits. Used for files that come from the network
// before they replace a good one. Any thread.
#pragma once

#include <cstdint>
#include <string>

namespace SkinUI {

enum class ImageKind { kNone, kPng, kJpeg };

// The toolkit's limits for a picture: at most this wide or tall, and this many pixels.
inline constexpr int kMaxImageSide = 8192;
inline constexpr long long kMaxImagePixels = 32LL * 1024 * 1024;

struct ImageProbeResult {
  ImageKind kind = ImageKind::kNone;  // kNone: not a whole PNG or JPEG within the limits
  int width = 0;
  int height = 0;
};

// Reads at most maxBytes of the file (a longer file is refused unread) and decodes it. A cut
// or corrupt picture, another format, or one past the limits gives kNone; a picture that is
// too large is refused from its header, before its pixels are allocated.
ImageProbeResult ProbeImageFile(const std::string& path, std::uint64_t maxBytes);

}  // namespace SkinUI
