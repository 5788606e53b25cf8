// The inline markup of "showhtml" texts: any text, never a crash, and no character lost or
// made up outside the tags.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ui/core/InlineMarkup.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Pairs of bytes are UTF-16 code units, so that every character can occur.
  std::wstring text;
  for (std::size_t i = 0; i + 1 < size; i += 2)
    text += static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
  const SkinUI::RichText rich = SkinUI::ParseInlineMarkup(text);
  std::size_t chars = 0;
  for (const SkinUI::RichRun& run : rich.runs) {
    chars += run.text.size();
    if (run.link >= static_cast<int>(rich.links.size())) std::abort();
  }
  // {n} and {p} add line breaks; everything else in the runs comes from the text.
  std::size_t breaks = 0;
  for (std::size_t at = text.find(L"n}"); at != std::wstring::npos; at = text.find(L"n}", at + 1))
    ++breaks;
  for (std::size_t at = text.find(L"p}"); at != std::wstring::npos; at = text.find(L"p}", at + 1))
    ++breaks;
  for (std::size_t at = text.find(L"n>"); at != std::wstring::npos; at = text.find(L"n>", at + 1))
    ++breaks;
  for (std::size_t at = text.find(L"p>"); at != std::wstring::npos; at = text.find(L"p>", at + 1))
    ++breaks;
  if (chars > text.size() + breaks) std::abort();
  rich.PlainText();
  return 0;
}
