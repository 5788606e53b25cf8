// The inline text markup of "showhtml" texts: {c #RRGGBB}..{/c}, {u}, {b}, {i}, {a target},
// {f n}, {n}, {p}, {r} raw text, and the same with angle brackets. Any thread; no state.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "ui/core/Types.h"

namespace SkinUI {

struct RichRun {
  std::wstring text;             // may hold '\n' for {n} and {p}
  std::optional<UiColor> color;  // RRGGBB from {c}; none = the control's colour
  int font = -1;                 // {f n}; -1 = the control's font
  bool underline = false;
  bool bold = false;
  bool italic = false;
  int link = -1;  // index into RichText::links

  bool SameStyle(const RichRun& o) const {
    return color == o.color && font == o.font && underline == o.underline && bold == o.bold &&
           italic == o.italic && link == o.link;
  }
};

struct RichText {
  std::vector<RichRun> runs;
  std::vector<std::wstring> links;  // the {a} targets, in order
  std::wstring PlainText() const;
};

// Never fails: anything that is not a well-formed tag is kept as text.
RichText ParseInlineMarkup(const std::wstring& text);

}  // namespace SkinUI
