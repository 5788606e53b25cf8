// Pango font descriptions for the skin's font table entries. Family names the machine lacks
// ("Segoe UI" and friends) are mapped to the installed sans face fontconfig prefers. UI thread.
#pragma once

#include <map>
#include <string>

#include "ui/core/PaintManager.h"

typedef struct _PangoFontDescription PangoFontDescription;

namespace SkinUI {

class CFontCache {
 public:
  CFontCache();
  ~CFontCache();
  CFontCache(const CFontCache&) = delete;
  CFontCache& operator=(const CFontCache&) = delete;

  // Owned by the cache; valid until it is destroyed.
  const PangoFontDescription* Get(const FontInfo& font);

  // The family fontconfig would use for a requested name, after the mapping above.
  static std::string ResolveFamily(const std::wstring& requested, int* weight);

 private:
  std::map<std::wstring, PangoFontDescription*> cache_;
};

}  // namespace SkinUI
