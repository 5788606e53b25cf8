#include "kvhttp/net/detail/ResponseHead.h"

#include <algorithm>

namespace kvhttp::detail {
namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}
bool IsControl(unsigned char c) {
  return c < 0x20 || c == 0x7f;
}

bool IsTokenChar(unsigned char c) {
  if (IsControl(c) || c >= 0x80) return false;
  static constexpr std::string_view kSeparators = "()<>@,;:\\\"/[]?={} \t";
  return kSeparators.find(static_cast<char>(c)) == std::string_view::npos;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
           return lower(x) == lower(y);
         });
}

// One or more digits at `pos`, at most `max_digits`.
bool Digits(std::string_view s, std::size_t& pos, std::size_t max_digits, int& value) {
  const std::size_t start = pos;
  value = 0;
  while (pos < s.size() && IsDigit(s[pos]) && pos - start < max_digits)
    value = value * 10 + (s[pos++] - '0');
  return pos > start && (pos >= s.size() || !IsDigit(s[pos]));
}

}  // namespace

bool ParseStatusLine(std::string_view line, StatusLine& out) {
  if (line.substr(0, 5) != "HTTP/") return false;
  std::size_t pos = 5;
  if (!Digits(line, pos, 4, out.major) || pos >= line.size() || line[pos] != '.') return false;
  ++pos;
  if (!Digits(line, pos, 4, out.minor) || pos >= line.size() || line[pos] != ' ') return false;
  ++pos;
  const std::size_t status_start = pos;
  if (!Digits(line, pos, 3, out.status) || pos - status_start != 3) return false;
  if (pos >= line.size() || line[pos] != ' ') return false;
  const std::string_view reason = line.substr(pos + 1);
  if (std::any_of(reason.begin(), reason.end(),
                  [](char c) { return IsControl(static_cast<unsigned char>(c)); }))
    return false;
  out.reason = std::string(reason);
  return true;
}

bool ParseHeaderLines(std::string_view block, RequestOptions& out) {
  std::string name;
  std::string value;
  bool have = false;
  auto flush = [&] {
    if (have) out.insert(name, std::string(Trim(value)));
    have = false;
  };
  while (!block.empty()) {
    const std::size_t eol = block.find("\r\n");
    if (eol == std::string_view::npos) return false;
    const std::string_view line = block.substr(0, eol);
    block.remove_prefix(eol + 2);
    if (std::any_of(line.begin(), line.end(), [](char c) {
          const auto u = static_cast<unsigned char>(c);
          return (IsControl(u) && c != '\t');
        }))
      return false;
    if (IsBlank(line.front())) {
      if (!have) return false;  // a continuation with nothing to continue
      value += ' ';
      value += Trim(line);
      continue;
    }
    flush();
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) return false;
    const std::string_view n = Trim(line.substr(0, colon));
    if (n.empty() || !std::all_of(n.begin(), n.end(), [](char c) {
          return IsTokenChar(static_cast<unsigned char>(c));
        }))
      return false;
    name = std::string(n);
    value = std::string(line.substr(colon + 1));
    have = true;
  }
  flush();
  return true;
}

std::int64_t ParseDecimal(std::string_view text) {
  if (text.empty() || text.size() > 18) return -1;
  std::int64_t v = 0;
  for (char c : text) {
    if (!IsDigit(c)) return -1;
    v = v * 10 + (c - '0');
  }
  return v;
}

HeadFacts ExtractHeadFacts(const RequestOptions& headers) {
  HeadFacts f;
  for (const auto& [name, value] : headers.table()) {
    if (EqualsIgnoreCase(name, "Content-Type")) {
      f.content_type = value;
    } else if (EqualsIgnoreCase(name, "Content-Length")) {
      const std::int64_t n = ParseDecimal(value);
      if (n >= 0) {
        f.message_length = n;
        f.content_length = std::max(f.content_length, n);
      }
    } else if (EqualsIgnoreCase(name, "Content-Range")) {
      const std::size_t slash = value.find('/');
      if (slash != std::string::npos) {
        const std::int64_t total = ParseDecimal(Trim(std::string_view(value).substr(slash + 1)));
        if (total >= 0) f.content_length = std::max(f.content_length, total);
      }
    } else if (EqualsIgnoreCase(name, "Location")) {
      f.location = value;
    } else if (EqualsIgnoreCase(name, "Transfer-Encoding")) {
      // Only the exact lower-case value counts.
      f.chunked = value == "chunked";
    } else if (EqualsIgnoreCase(name, "Connection")) {
      if (EqualsIgnoreCase(value, "close")) f.connection_close = true;
    }
  }
  return f;
}

std::string AbsoluteLocation(const ParsedUrl& base, std::string_view location) {
  if (location.find("://") != std::string_view::npos) return std::string(location);
  // The base ends at the path: a "/" inside the query must not become a directory.
  const std::string text =
      UrlToString(base, url_protocol | url_user_info | url_host | url_port | url_path);
  const std::size_t slash = text.rfind('/');
  const std::size_t scheme = text.find("://");
  if (slash == std::string::npos || (scheme != std::string::npos && slash < scheme + 3))
    return text + "/" + std::string(location);
  return text.substr(0, slash + 1) + std::string(location);
}

std::string Base64(std::string_view bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const unsigned v = (unsigned char)bytes[i] << 16 | (unsigned char)bytes[i + 1] << 8 |
                       (unsigned char)bytes[i + 2];
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  if (i + 1 == bytes.size()) {
    const unsigned v = (unsigned char)bytes[i] << 16;
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += "==";
  } else if (i + 2 == bytes.size()) {
    const unsigned v = (unsigned char)bytes[i] << 16 | (unsigned char)bytes[i + 1] << 8;
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += '=';
  }
  return out;
}

}  // namespace kvhttp::detail
