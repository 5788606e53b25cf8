// Plain geometry and colour types shared by the whole toolkit.
#pragma once

#include <algorithm>
#include <cstdint>

namespace SkinUI {

// Colours are 0xAARRGGBB.
using UiColor = std::uint32_t;

struct UiPoint {
  int x = 0;
  int y = 0;
};

struct UiSize {
  int cx = 0;
  int cy = 0;
};

struct UiRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;

  int GetWidth() const { return right - left; }
  int GetHeight() const { return bottom - top; }
  bool IsEmpty() const { return right <= left || bottom <= top; }
  bool Contains(UiPoint pt) const {
    return pt.x >= left && pt.x < right && pt.y >= top && pt.y < bottom;
  }
  void Offset(int dx, int dy) {
    left += dx;
    right += dx;
    top += dy;
    bottom += dy;
  }
  // Shrinks by an inset given as a rectangle of margins.
  UiRect Deflated(const UiRect& m) const {
    UiRect r{left + m.left, top + m.top, right - m.right, bottom - m.bottom};
    if (r.right < r.left) r.right = r.left;
    if (r.bottom < r.top) r.bottom = r.top;
    return r;
  }
  UiRect Intersected(const UiRect& o) const {
    UiRect r{std::max(left, o.left), std::max(top, o.top), std::min(right, o.right),
             std::min(bottom, o.bottom)};
    if (r.right < r.left) r.right = r.left;
    if (r.bottom < r.top) r.bottom = r.top;
    return r;
  }
  bool operator==(const UiRect&) const = default;
};

}  // namespace SkinUI
