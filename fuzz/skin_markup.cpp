// The skin's markup parser: any bytes, never a crash; a parse that fails says where.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "ui/core/Markup.h"

namespace {

std::size_t Walk(const SkinUI::CMarkupNode& node, int depth) {
  if (depth > 300) std::abort();  // the parser allows 256 levels
  std::size_t n = 1;
  for (const auto& [name, value] : node.attributes) {
    if (node.FindAttribute(name) == nullptr) std::abort();
    SkinUI::DecodeEntities(value);
  }
  for (const SkinUI::CMarkupNode& child : node.children) n += Walk(child, depth + 1);
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const SkinUI::MarkupResult r =
      SkinUI::ParseMarkup(std::string_view(reinterpret_cast<const char*>(data), size));
  if (r.ok) {
    Walk(r.root, 0);
  } else if (r.error.empty()) {
    std::abort();
  }
  return 0;
}
