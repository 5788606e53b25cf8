// The skin file reader: a small XML parser that accepts what the skins are written with
// (attributes directly after the previous closing quote, entities in values).
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace SkinUI {

struct CMarkupNode {
  std::wstring name;
  std::vector<std::pair<std::wstring, std::wstring>> attributes;  // document order
  std::vector<CMarkupNode> children;
  int line = 0;

  // Null when the attribute is absent; names match exactly.
  const std::wstring* FindAttribute(std::wstring_view attr) const;
  bool HasAttribute(std::wstring_view attr) const { return FindAttribute(attr) != nullptr; }
  std::wstring GetAttribute(std::wstring_view attr) const;
};

struct MarkupResult {
  bool ok = false;
  CMarkupNode root;
  std::string error;  // "line N: ..." when !ok
};

// Parses one document (UTF-8, with or without a byte-order mark, or UTF-16LE with one).
// Exactly one root element is expected; elements nest at most 256 deep. Any thread.
MarkupResult ParseMarkup(std::string_view bytes);

// Decodes &lt; &gt; &amp; &quot; &apos; and numeric references; unknown ones stay as written.
std::wstring DecodeEntities(std::wstring_view text);

}  // namespace SkinUI
