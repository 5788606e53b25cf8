// Drawing primitives the controls paint with: colours, borders, skin images and text, on a
// cairo context. UI thread.
#pragma once

#include <string>
#include <vector>

#include "ui/core/Types.h"

typedef struct _cairo cairo_t;

namespace SkinUI {

class CPaintManagerUI;

// Text layout flags.
enum TextStyle : unsigned {
  kTextLeft = 0,
  kTextCenter = 1,
  kTextRight = 2,
  kTextTop = 0,
  kTextVCenter = 4,
  kTextBottom = 8,
  kTextSingleLine = 16,
  kTextWordBreak = 32,
  kTextEndEllipsis = 64,
  // One-line text wider than its place is set smaller, down to kMinTextScale, before an
  // ellipsis ends it.
  kTextShrinkToFit = 128,
};

inline constexpr double kMinTextScale = 0.8;

// How a one-line text was fitted into its place.
struct TextFit {
  double scale = 1.0;  // of the font's size
  bool ellipsized = false;
  int naturalWidth = 0;  // at full size
  int width = 0;         // as drawn
  int available = 0;
};

// Where a {a} link of a rich text was drawn.
struct LinkArea {
  UiRect rect;
  int link = -1;
  std::wstring target;
};

class CRenderContext {
 public:
  CRenderContext(cairo_t* cr, CPaintManagerUI& manager);
  CRenderContext(const CRenderContext&) = delete;
  CRenderContext& operator=(const CRenderContext&) = delete;

  cairo_t* cairo() const { return cr_; }
  CPaintManagerUI& manager() const { return manager_; }

  void FillRect(const UiRect& rc, UiColor color);
  void FillRoundRect(const UiRect& rc, UiSize round, UiColor color);
  void DrawBorder(const UiRect& rc, int size, UiColor color, UiSize round);
  // Draws an image attribute value (file name or descriptor) for a control at rc. False when
  // the image cannot be found or decoded (nothing is drawn then).
  bool DrawImage(const UiRect& rc, const std::wstring& imageValue);
  // Alpha of the colour is ignored for text.
  TextFit DrawText(const UiRect& rc, const std::wstring& text, UiColor color, int font,
                   unsigned style);
  // Inline markup text; collects the link areas when links is not null. hotLink is drawn
  // in the hover colour.
  TextFit DrawRichText(const UiRect& rc, const std::wstring& text, UiColor color, int font,
                       unsigned style, std::vector<LinkArea>* links, int hotLink);

  // Width in pixels of a one-line text.
  int MeasureText(const std::wstring& text, int font);

  // Clips are intersected with the current one; every push needs its pop.
  void PushClip(const UiRect& rc);
  void PushRoundClip(const UiRect& rc, UiSize round);
  void PopClip();

 private:
  cairo_t* cr_;
  CPaintManagerUI& manager_;
};

}  // namespace SkinUI
