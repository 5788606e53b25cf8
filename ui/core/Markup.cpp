#include "ui/core/Markup.h"

#include <cwctype>

#include "ui/core/Utf.h"

namespace SkinUI {

const std::wstring* CMarkupNode::FindAttribute(std::wstring_view attr) const {
  for (const auto& [k, v] : attributes) {
    if (k == attr) return &v;
  }
  return nullptr;
}

std::wstring CMarkupNode::GetAttribute(std::wstring_view attr) const {
  const std::wstring* v = FindAttribute(attr);
  return v ? *v : std::wstring();
}

std::wstring DecodeEntities(std::wstring_view text) {
  std::wstring out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != L'&') {
      out += text[i];
      continue;
    }
    std::size_t semi = text.find(L';', i + 1);
    if (semi == std::wstring_view::npos || semi - i > 12) {
      out += text[i];
      continue;
    }
    std::wstring_view ent = text.substr(i + 1, semi - i - 1);
    wchar_t ch = 0;
    if (ent == L"lt")
      ch = L'<';
    else if (ent == L"gt")
      ch = L'>';
    else if (ent == L"amp")
      ch = L'&';
    else if (ent == L"quot")
      ch = L'"';
    else if (ent == L"apos")
      ch = L'\'';
    else if (ent.size() > 1 && ent[0] == L'#') {
      bool hex = ent[1] == L'x' || ent[1] == L'X';
      std::wstring_view digits = ent.substr(hex ? 2 : 1);
      unsigned long v = 0;
      bool ok = !digits.empty();
      for (wchar_t d : digits) {
        int n = -1;
        if (d >= L'0' && d <= L'9')
          n = d - L'0';
        else if (hex && d >= L'a' && d <= L'f')
          n = d - L'a' + 10;
        else if (hex && d >= L'A' && d <= L'F')
          n = d - L'A' + 10;
        if (n < 0 || v > 0x10FFFF) {
          ok = false;
          break;
        }
        v = v * (hex ? 16 : 10) + static_cast<unsigned long>(n);
      }
      if (ok && v > 0 && v <= 0x10FFFF && !(v >= 0xD800 && v <= 0xDFFF)) {
        ch = static_cast<wchar_t>(v);
      }
    }
    if (ch == 0) {
      out += text[i];
      continue;
    }
    out += ch;
    i = semi;
  }
  return out;
}

namespace {

std::wstring ToWideDocument(std::string_view bytes) {
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    std::wstring out;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
      std::uint32_t u =
          static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8);
      if (u >= 0xD800 && u <= 0xDBFF && i + 3 < bytes.size()) {
        std::uint32_t lo = static_cast<unsigned char>(bytes[i + 2]) |
                           (static_cast<unsigned char>(bytes[i + 3]) << 8);
        if (lo >= 0xDC00 && lo <= 0xDFFF) {
          u = 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00);
          i += 2;
        }
      }
      out += static_cast<wchar_t>(u);
    }
    return out;
  }
  if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  return FromUtf8(bytes);
}

class Parser {
 public:
  explicit Parser(std::wstring text) : s_(std::move(text)) {}

  MarkupResult Run() {
    MarkupResult r;
    bool haveRoot = false;
    while (true) {
      SkipMisc();
      if (pos_ >= s_.size()) break;
      if (s_[pos_] != L'<') return Fail("text outside the root element");
      if (haveRoot) return Fail("more than one root element");
      if (!ParseElement(r.root, 0)) return Fail(error_);
      haveRoot = true;
    }
    if (!haveRoot) return Fail("no root element");
    r.ok = true;
    return r;
  }

 private:
  MarkupResult Fail(const std::string& why) {
    MarkupResult r;
    r.error = "line " + std::to_string(line_) + ": " + why;
    return r;
  }

  bool Starts(std::wstring_view w) const { return s_.compare(pos_, w.size(), w) == 0; }

  void Advance(std::size_t n = 1) {
    for (std::size_t k = 0; k < n && pos_ < s_.size(); ++k, ++pos_) {
      if (s_[pos_] == L'\n') ++line_;
    }
  }

  void SkipSpace() {
    while (pos_ < s_.size() && std::iswspace(static_cast<wint_t>(s_[pos_]))) Advance();
  }

  bool SkipUntil(std::wstring_view end) {
    std::size_t at = s_.find(end, pos_);
    if (at == std::wstring::npos) {
      Advance(s_.size() - pos_);
      return false;
    }
    Advance(at - pos_ + end.size());
    return true;
  }

  // White space, comments, processing instructions and declarations.
  void SkipMisc() {
    while (true) {
      SkipSpace();
      if (Starts(L"<!--")) {
        SkipUntil(L"-->");
      } else if (Starts(L"<?")) {
        SkipUntil(L"?>");
      } else if (Starts(L"<!")) {
        SkipUntil(L">");
      } else {
        return;
      }
    }
  }

  static bool IsNameChar(wchar_t c) {
    return std::iswalnum(static_cast<wint_t>(c)) || c == L'_' || c == L'-' || c == L':' ||
           c == L'.';
  }

  std::wstring ReadName() {
    std::size_t start = pos_;
    while (pos_ < s_.size() && IsNameChar(s_[pos_])) Advance();
    return s_.substr(start, pos_ - start);
  }

  bool ParseElement(CMarkupNode& node, int depth) {
    // Each level recurses once; a hostile file must not run the stack out.
    if (depth >= kMaxDepth) return Error("elements nested too deeply");
    node.line = line_;
    Advance();  // '<'
    node.name = ReadName();
    if (node.name.empty()) return Error("element without a name");
    std::string where = " in <" + ToUtf8(node.name) + ">";
    while (true) {
      SkipSpace();
      if (pos_ >= s_.size()) return Error("unexpected end" + where);
      wchar_t c = s_[pos_];
      if (c == L'/') {
        Advance();
        if (pos_ >= s_.size() || s_[pos_] != L'>') return Error("expected '>'" + where);
        Advance();
        return true;
      }
      if (c == L'>') {
        Advance();
        break;
      }
      std::wstring key = ReadName();
      if (key.empty()) return Error("bad attribute" + where);
      SkipSpace();
      if (pos_ >= s_.size() || s_[pos_] != L'=') {
        return Error("expected '=' after " + ToUtf8(key) + where);
      }
      Advance();
      SkipSpace();
      if (pos_ >= s_.size() || (s_[pos_] != L'"' && s_[pos_] != L'\'')) {
        return Error("expected a quoted value for " + ToUtf8(key) + where);
      }
      wchar_t quote = s_[pos_];
      Advance();
      std::size_t end = s_.find(quote, pos_);
      if (end == std::wstring::npos) return Error("unterminated value of " + ToUtf8(key) + where);
      std::wstring raw = s_.substr(pos_, end - pos_);
      Advance(end - pos_ + 1);
      // No blank is required before the next attribute: the loop simply reads on.
      node.attributes.emplace_back(std::move(key), DecodeEntities(raw));
    }
    // Content: children, text (ignored), comments, until the matching end tag.
    while (true) {
      std::size_t lt = s_.find(L'<', pos_);
      if (lt == std::wstring::npos) return Error("missing </" + ToUtf8(node.name) + ">");
      Advance(lt - pos_);
      if (Starts(L"<!--")) {
        if (!SkipUntil(L"-->")) return Error("unterminated comment" + where);
      } else if (Starts(L"<![CDATA[")) {
        if (!SkipUntil(L"]]>")) return Error("unterminated CDATA" + where);
      } else if (Starts(L"<?")) {
        SkipUntil(L"?>");
      } else if (Starts(L"</")) {
        Advance(2);
        std::wstring closing = ReadName();
        SkipSpace();
        if (closing != node.name) {
          return Error("</" + ToUtf8(closing) + "> does not close <" + ToUtf8(node.name) + ">");
        }
        if (pos_ >= s_.size() || s_[pos_] != L'>') return Error("expected '>'" + where);
        Advance();
        return true;
      } else {
        CMarkupNode child;
        if (!ParseElement(child, depth + 1)) return false;
        node.children.push_back(std::move(child));
      }
    }
  }

  bool Error(const std::string& why) {
    error_ = why;
    return false;
  }

  static constexpr int kMaxDepth = 256;

  std::wstring s_;
  std::size_t pos_ = 0;
  int line_ = 1;
  std::string error_;
};

}  // namespace

MarkupResult ParseMarkup(std::string_view bytes) {
  return Parser(ToWideDocument(bytes)).Run();
}

}  // namespace SkinUI
