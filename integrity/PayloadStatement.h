// The signed payload statement: what the publisher says about the installer it serves, published
// beside it as "<download URL>.sig". Version 1 is four lines of ASCII, each ended by one LF:
//
//   kvdownloader-statement 1
//   size 48213504
//   sha256 <64 lower-case hex digits: the SHA-256 of the installer>
//   signature <128 lower-case hex digits: Ed25519 over the first three lines, LFs included>
//
// Nothing else is allowed: no blanks around fields, no CR, no leading zeros in the size, no
// text after the last LF, at most kMaxStatementBytes in all. A first line naming another version
// is reported as unsupported, so a later format can be told from a broken one. This file is the
// format's one definition; parsing needs nothing but the standard library. Any thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace integrity {

inline constexpr int kStatementVersion = 1;
inline constexpr std::size_t kMaxStatementBytes = 1024;
// Sizes above this are refused (file offsets are signed 64-bit numbers).
inline constexpr std::uint64_t kMaxPayloadSize = 0x7fffffffffffffffULL;

using Sha256Digest = std::array<unsigned char, 32>;
using Ed25519Signature = std::array<unsigned char, 64>;

struct PayloadStatement {
  std::uint64_t size = 0;
  Sha256Digest sha256{};
  Ed25519Signature signature{};
  // The bytes the signature covers (the first three lines).
  std::string signedText;
};

enum class StatementParse { kOk, kTooLong, kMalformed, kUnsupportedVersion };

// Parses `text`; `out` is written only on kOk.
StatementParse ParsePayloadStatement(std::string_view text, PayloadStatement& out);

// The first three lines for a payload of `size` bytes with that digest: what gets signed.
std::string PayloadStatementSignedText(std::uint64_t size, const Sha256Digest& sha256);

// The whole statement: the signed text and the signature line.
std::string FormatPayloadStatement(std::uint64_t size, const Sha256Digest& sha256,
                                   const Ed25519Signature& signature);

// Lower-case hex of any bytes.
std::string ToHex(const unsigned char* data, std::size_t size);

}  // namespace integrity
