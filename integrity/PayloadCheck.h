// Checking the installer against the statement its publisher signed, for the install flow:
//
//   1. Before the download: FetchPayloadStatement(download URL, EmbeddedPublicKeys(), expected)
//      fetches "<download URL>.sig", verifies it with the brand's keys and gives the installer's
//      size (for the engine's expected size) and SHA-256. A brand without keys
//      (EmbeddedPublicKeys().empty()) has nothing to check: skip both steps.
//   2. After the download, on the very descriptor the installer will be started from:
//      CheckPayloadFile(fd, expected). Anything but kOk means the file must not run.
//
// The statement is fetched like every other request (the desktop's proxy, certificates verified)
// and never in plain text for an https URL: no fallback, no redirect from https to http. Its
// integrity rests on the signature alone, so a plain-HTTP statement of a loopback demo is as good
// as any. Results are plain values; nothing throws. Every function blocks; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "integrity/PayloadStatement.h"
#include "integrity/PublicKeys.h"

namespace integrity {

struct ExpectedPayload {
  std::uint64_t size = 0;
  Sha256Digest sha256{};
  // PublicKeySet::Fingerprint of the key that signed the statement.
  std::string signer;
};

enum class PayloadCheck {
  kOk = 0,
  // "<URL>.sig" could not be had: no answer, a status other than 200 (an https-to-http redirect
  // included), or a body over kMaxStatementBytes.
  kStatementUnavailable,
  kStatementMalformed,
  // A statement of a format version this program does not know.
  kStatementUnsupported,
  // Signed by no key of the brand, or the brand has no keys.
  kBadSignature,
  // The file's size, or its SHA-256, is not the statement's.
  kSizeMismatch,
  kDigestMismatch,
  // The descriptor could not be read.
  kReadFailed,
};

// A short English text for logs ("statement signed by no key of this brand", ...).
const char* DescribePayloadCheck(PayloadCheck check);

// Where the statement of `downloadUrl` lives: ".sig" appended to the URL's path, before any
// "?query" or "#fragment".
std::wstring StatementUrlFor(const std::wstring& downloadUrl);

// Fetches and verifies the statement of `downloadUrl`; `expected` is written only on kOk. Logs
// what went wrong.
PayloadCheck FetchPayloadStatement(const std::wstring& downloadUrl, const PublicKeySet& keys,
                                   ExpectedPayload& expected);

// Verifies an already fetched statement text.
PayloadCheck VerifyPayloadStatement(std::string_view text, const PublicKeySet& keys,
                                    ExpectedPayload& expected);

struct FileDigest {
  std::uint64_t size = 0;
  Sha256Digest sha256{};
};

// The SHA-256 and size of the file behind `fd`, read from offset 0 to its end with pread (the
// descriptor's own offset does not move). Stops after `limit` + 1 bytes, reporting that size,
// so an oversized file is not read through. False when a read fails.
bool DigestOfDescriptor(int fd, std::uint64_t limit, FileDigest& out);

// kOk when the file behind `fd` has exactly the expected size and SHA-256.
PayloadCheck CheckPayloadFile(int fd, const ExpectedPayload& expected);

}  // namespace integrity
