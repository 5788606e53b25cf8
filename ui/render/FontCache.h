// Pango font descriptions for the skin's font table entries. Family names the machine lacks
// ("Segoe UI" and friends) are mapped to Noto Sans (else the sans face fontconfig prefers), and
// every family is followed by the Noto faces of the scripts Noto Sans lacks (Arabic, Hebrew,
// Georgian, Thai) and the CJK face of the UI language, so each language is set in one design
// rather than in whatever fallback fontconfig finds. UI thread.
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

  // Owned by the cache; valid until it is destroyed. For the current UI language.
  const PangoFontDescription* Get(const FontInfo& font);

  // The installed family standing in for a requested name, after the mapping above; style
  // words of a missing family ("Semibold") become the weight.
  static std::string ResolveFamily(const std::wstring& requested, int* weight);
  // That family followed by the script faces and the CJK face for `language` (a BCP 47 tag),
  // as a comma-separated list for Pango; faces that are not installed are left out.
  static std::string FamilyList(const std::wstring& requested, int* weight,
                                const std::string& language);

 private:
  std::map<std::wstring, PangoFontDescription*> cache_;
};

}  // namespace SkinUI
