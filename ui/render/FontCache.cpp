#include "ui/render/FontCache.h"

#include <fontconfig/fontconfig.h>
#include <pango/pangocairo.h>

#include <cctype>
#include <vector>

#include "ui/core/Utf.h"
#include "ui/render/UiLanguage.h"

namespace SkinUI {
namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool EndsWith(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() &&
         s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Whether fontconfig has a face of exactly this family (not merely a fallback for it).
bool FamilyInstalled(const std::string& family) {
  if (family.empty()) return false;
  FcPattern* pat = FcPatternCreate();
  FcPatternAddString(pat, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
  FcObjectSet* os = FcObjectSetBuild(FC_FAMILY, nullptr);
  FcFontSet* fs = FcFontList(nullptr, pat, os);
  bool found = fs != nullptr && fs->nfont > 0;
  if (fs) FcFontSetDestroy(fs);
  FcObjectSetDestroy(os);
  FcPatternDestroy(pat);
  return found;
}

// The default font map caches every font and fontset it ever loaded for the life of the
// process; letting it go at exit returns them, so leak checkers see only real leaks.
// (fontconfig's own tables stay: releasing them while anything still holds a pattern aborts.)
struct FontMapRelease {
  ~FontMapRelease() { pango_cairo_font_map_set_default(nullptr); }
};
FontMapRelease g_fontMapRelease;

}  // namespace

CFontCache::CFontCache() = default;

CFontCache::~CFontCache() {
  for (auto& [key, desc] : cache_) pango_font_description_free(desc);
}

std::string CFontCache::ResolveFamily(const std::wstring& requested, int* weight) {
  std::string family = ToUtf8(requested);
  if (weight) *weight = PANGO_WEIGHT_NORMAL;
  if (FamilyInstalled(family)) return family;
  // Style words in the family name become the weight of the face that stands in for it.
  static const std::pair<const char*, int> kStyles[] = {{" semibold", PANGO_WEIGHT_SEMIBOLD},
                                                        {" light", PANGO_WEIGHT_LIGHT},
                                                        {" bold", PANGO_WEIGHT_BOLD},
                                                        {" black", PANGO_WEIGHT_HEAVY},
                                                        {" semilight", PANGO_WEIGHT_SEMILIGHT}};
  std::string lower = Lower(family);
  for (const auto& [suffix, w] : kStyles) {
    if (EndsWith(lower, suffix)) {
      family.resize(family.size() - std::char_traits<char>::length(suffix));
      if (weight) *weight = w;
      break;
    }
  }
  if (FamilyInstalled(family)) return family;
  // The same design as the script faces below.
  if (FamilyInstalled("Noto Sans")) return "Noto Sans";
  // The machine's preferred sans face.
  FcPattern* pat = FcNameParse(reinterpret_cast<const FcChar8*>("sans-serif"));
  FcConfigSubstitute(nullptr, pat, FcMatchPattern);
  FcDefaultSubstitute(pat);
  FcResult result;
  FcPattern* match = FcFontMatch(nullptr, pat, &result);
  std::string resolved = "Sans";
  FcChar8* name = nullptr;
  if (match && FcPatternGetString(match, FC_FAMILY, 0, &name) == FcResultMatch && name) {
    resolved = reinterpret_cast<const char*>(name);
  }
  if (match) FcPatternDestroy(match);
  FcPatternDestroy(pat);
  return resolved;
}

std::string CFontCache::FamilyList(const std::wstring& requested, int* weight,
                                   const std::string& language) {
  std::string list = ResolveFamily(requested, weight);
  std::string lang = Lower(language);
  auto startsWith = [&](const char* prefix) { return lang.rfind(prefix, 0) == 0; };
  const char* cjk = nullptr;
  if (startsWith("zh-tw") || startsWith("zh-hk") || startsWith("zh-mo") || startsWith("zh-hant")) {
    cjk = "Noto Sans CJK TC";
  } else if (startsWith("zh")) {
    cjk = "Noto Sans CJK SC";
  } else if (startsWith("ja")) {
    cjk = "Noto Sans CJK JP";
  } else if (startsWith("ko")) {
    cjk = "Noto Sans CJK KR";
  }
  static const char* kScriptFaces[] = {"Noto Sans Arabic", "Noto Sans Hebrew", "Noto Sans Georgian",
                                       "Noto Sans Thai"};
  static const std::vector<std::string> installed = [] {
    std::vector<std::string> v;
    for (const char* face : kScriptFaces) {
      if (FamilyInstalled(face)) v.push_back(face);
    }
    return v;
  }();
  for (const std::string& face : installed) list += "," + face;
  if (cjk != nullptr && FamilyInstalled(cjk)) list += std::string(",") + cjk;
  return list;
}

const PangoFontDescription* CFontCache::Get(const FontInfo& font) {
  std::string language = GetUiLanguage();
  std::wstring key = font.name + L"|" + std::to_wstring(font.size) + (font.bold ? L"b" : L"") +
                     (font.italic ? L"i" : L"") + L"|" +
                     std::wstring(language.begin(), language.end());
  auto it = cache_.find(key);
  if (it != cache_.end()) return it->second;
  int weight = PANGO_WEIGHT_NORMAL;
  std::string family = FamilyList(font.name.empty() ? L"Sans" : font.name, &weight, language);
  PangoFontDescription* desc = pango_font_description_new();
  pango_font_description_set_family(desc, family.c_str());
  pango_font_description_set_absolute_size(desc, std::max(1, font.size) * PANGO_SCALE);
  pango_font_description_set_weight(
      desc, font.bold ? PANGO_WEIGHT_BOLD : static_cast<PangoWeight>(weight));
  pango_font_description_set_style(desc, font.italic ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
  cache_[key] = desc;
  return desc;
}

}  // namespace SkinUI
