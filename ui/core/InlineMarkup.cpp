#include "ui/core/InlineMarkup.h"

#include "ui/core/ValueFormats.h"

namespace SkinUI {

std::wstring RichText::PlainText() const {
  std::wstring out;
  for (const RichRun& r : runs) out += r.text;
  return out;
}

namespace {

constexpr std::wstring_view kTagLetters = L"abcfinprsuvxy";

struct Tag {
  wchar_t letter = 0;
  bool closing = false;
  std::wstring arg;
  std::size_t length = 0;  // characters the tag takes in the source
};

wchar_t CloserOf(wchar_t open) {
  return open == L'{' ? L'}' : L'>';
}

// A tag opens only when its letter follows the bracket directly and is followed by a blank
// or the closing bracket.
bool ReadTag(const std::wstring& s, std::size_t at, Tag& tag) {
  wchar_t open = s[at];
  if (open != L'{' && open != L'<') return false;
  wchar_t close = CloserOf(open);
  std::size_t i = at + 1;
  if (i < s.size() && s[i] == L'/') {
    tag.closing = true;
    ++i;
  }
  if (i >= s.size() || kTagLetters.find(s[i]) == std::wstring_view::npos) return false;
  tag.letter = s[i];
  ++i;
  if (i >= s.size()) return false;
  if (s[i] == close) {
    tag.length = i + 1 - at;
    return true;
  }
  if (tag.closing || s[i] != L' ') return false;
  std::size_t end = s.find(close, i + 1);
  if (end == std::wstring::npos) return false;
  tag.arg = s.substr(i + 1, end - i - 1);
  tag.length = end + 1 - at;
  return true;
}

class Builder {
 public:
  RichText Build(const std::wstring& s) {
    std::size_t i = 0;
    while (i < s.size()) {
      Tag tag;
      if (!ReadTag(s, i, tag)) {
        Append(std::wstring(1, s[i]));
        ++i;
        continue;
      }
      i += tag.length;
      if (tag.letter == L'r' && !tag.closing) {
        // Raw text: everything up to the matching close tag, tags included, is plain.
        std::wstring closeTag =
            std::wstring(1, s[i - tag.length]) + L"/r" + CloserOf(s[i - tag.length]);
        std::size_t end = s.find(closeTag, i);
        std::size_t stop = end == std::wstring::npos ? s.size() : end;
        Append(s.substr(i, stop - i));
        i = end == std::wstring::npos ? s.size() : end + closeTag.size();
        continue;
      }
      Apply(tag);
    }
    return std::move(out_);
  }

 private:
  void Append(const std::wstring& text) {
    if (text.empty()) return;
    RichRun run = Current();
    run.text = text;
    if (!out_.runs.empty() && out_.runs.back().SameStyle(run)) {
      out_.runs.back().text += text;
    } else {
      out_.runs.push_back(std::move(run));
    }
  }

  RichRun Current() const {
    RichRun r;
    if (!colors_.empty()) r.color = colors_.back();
    if (!fonts_.empty()) r.font = fonts_.back();
    r.underline = underline_ > 0 || !links_.empty();
    r.bold = bold_ > 0;
    r.italic = italic_ > 0;
    if (!links_.empty()) r.link = links_.back();
    return r;
  }

  static void Drop(int& counter) {
    if (counter > 0) --counter;
  }

  template <typename T>
  static void Pop(std::vector<T>& v) {
    if (!v.empty()) v.pop_back();
  }

  void Apply(const Tag& tag) {
    switch (tag.letter) {
      case L'c':
        if (tag.closing)
          Pop(colors_);
        else
          colors_.push_back(ParseColor(tag.arg) & 0x00FFFFFF);
        break;
      case L'u':
        tag.closing ? Drop(underline_) : void(++underline_);
        break;
      case L'b':
        tag.closing ? Drop(bold_) : void(++bold_);
        break;
      case L'i':
        // With an argument {i} names an inline image, which is not drawn here.
        if (tag.closing)
          Drop(italic_);
        else if (tag.arg.empty())
          ++italic_;
        break;
      case L'a':
        if (tag.closing) {
          Pop(links_);
        } else {
          out_.links.push_back(tag.arg);
          links_.push_back(static_cast<int>(out_.links.size()) - 1);
        }
        break;
      case L'f':
        if (tag.closing)
          Pop(fonts_);
        else
          fonts_.push_back(ParseInt(tag.arg, -1));
        break;
      case L'n':
        if (!tag.closing) Append(L"\n");
        break;
      case L'p':
        if (!tag.closing && !AtLineStart())
          Append(L"\n");
        else if (tag.closing)
          Append(L"\n");
        break;
      default:  // x, y, s, v: spacing and highlight are not drawn by this toolkit
        break;
    }
  }

  bool AtLineStart() const {
    return out_.runs.empty() || out_.runs.back().text.empty() ||
           out_.runs.back().text.back() == L'\n';
  }

  RichText out_;
  std::vector<UiColor> colors_;
  std::vector<int> fonts_;
  std::vector<int> links_;
  int underline_ = 0;
  int bold_ = 0;
  int italic_ = 0;
};

}  // namespace

RichText ParseInlineMarkup(const std::wstring& text) {
  return Builder().Build(text);
}

}  // namespace SkinUI
