#include "integrity/PayloadStatement.h"

#include <charconv>

namespace integrity {
namespace {

constexpr std::string_view kMagic = "kvdownloader-statement ";

// Takes the next line (without its LF) off the front of `text`; false when no LF ends it.
bool NextLine(std::string_view& text, std::string_view& line) {
  const std::size_t lf = text.find('\n');
  if (lf == std::string_view::npos) return false;
  line = text.substr(0, lf);
  text.remove_prefix(lf + 1);
  return true;
}

// "name value" with exactly that name and one blank.
bool Field(std::string_view line, std::string_view name, std::string_view& value) {
  if (line.size() <= name.size() + 1 || line.substr(0, name.size()) != name ||
      line[name.size()] != ' ') {
    return false;
  }
  value = line.substr(name.size() + 1);
  return true;
}

// A decimal number without sign or leading zeros.
bool Decimal(std::string_view text, std::uint64_t& out) {
  if (text.empty() || (text.size() > 1 && text[0] == '0')) return false;
  const char* end = text.data() + text.size();
  auto [p, ec] = std::from_chars(text.data(), end, out);
  return ec == std::errc() && p == end;
}

template <std::size_t N>
bool LowerHex(std::string_view text, std::array<unsigned char, N>& out) {
  if (text.size() != 2 * N) return false;
  auto nibble = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  for (std::size_t i = 0; i < N; ++i) {
    const int hi = nibble(text[2 * i]), lo = nibble(text[2 * i + 1]);
    if (hi < 0 || lo < 0) return false;
    out[i] = static_cast<unsigned char>(hi << 4 | lo);
  }
  return true;
}

}  // namespace

std::string ToHex(const unsigned char* data, std::size_t size) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  out.reserve(2 * size);
  for (std::size_t i = 0; i < size; ++i) {
    out += digits[data[i] >> 4];
    out += digits[data[i] & 15];
  }
  return out;
}

StatementParse ParsePayloadStatement(std::string_view text, PayloadStatement& out) {
  if (text.size() > kMaxStatementBytes) return StatementParse::kTooLong;
  const std::string_view whole = text;
  std::string_view line, value;
  if (!NextLine(text, line) || line.substr(0, kMagic.size()) != kMagic) {
    return StatementParse::kMalformed;
  }
  std::uint64_t version = 0;
  if (!Decimal(line.substr(kMagic.size()), version)) return StatementParse::kMalformed;
  if (version != kStatementVersion) return StatementParse::kUnsupportedVersion;

  PayloadStatement s;
  if (!NextLine(text, line) || !Field(line, "size", value) || !Decimal(value, s.size) ||
      s.size > kMaxPayloadSize) {
    return StatementParse::kMalformed;
  }
  if (!NextLine(text, line) || !Field(line, "sha256", value) || !LowerHex(value, s.sha256)) {
    return StatementParse::kMalformed;
  }
  s.signedText = std::string(whole.substr(0, whole.size() - text.size()));
  if (!NextLine(text, line) || !Field(line, "signature", value) || !LowerHex(value, s.signature) ||
      !text.empty()) {
    return StatementParse::kMalformed;
  }
  out = std::move(s);
  return StatementParse::kOk;
}

std::string PayloadStatementSignedText(std::uint64_t size, const Sha256Digest& sha256) {
  return std::string(kMagic) + std::to_string(kStatementVersion) + "\nsize " +
         std::to_string(size) + "\nsha256 " + ToHex(sha256.data(), sha256.size()) + "\n";
}

std::string FormatPayloadStatement(std::uint64_t size, const Sha256Digest& sha256,
                                   const Ed25519Signature& signature) {
  return PayloadStatementSignedText(size, sha256) + "signature " +
         ToHex(signature.data(), signature.size()) + "\n";
}

}  // namespace integrity
