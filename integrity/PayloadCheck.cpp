#include "integrity/PayloadCheck.h"

#include <errno.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <memory>
#include <vector>

#include "http/WinHttpRequest.h"
#include "log/Log.h"
#include "platform/TextCodec.h"

namespace integrity {
namespace {

struct MdCtxFree {
  void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};

constexpr std::size_t kReadBlock = 256 * 1024;

}  // namespace

const char* DescribePayloadCheck(PayloadCheck check) {
  switch (check) {
    case PayloadCheck::kOk:
      return "payload verified";
    case PayloadCheck::kStatementUnavailable:
      return "signed statement unavailable";
    case PayloadCheck::kStatementMalformed:
      return "signed statement malformed";
    case PayloadCheck::kStatementUnsupported:
      return "signed statement of an unknown format version";
    case PayloadCheck::kBadSignature:
      return "statement signed by no key of this brand";
    case PayloadCheck::kSizeMismatch:
      return "file size differs from the signed statement";
    case PayloadCheck::kDigestMismatch:
      return "file SHA-256 differs from the signed statement";
    case PayloadCheck::kReadFailed:
      return "file cannot be read";
  }
  return "unknown";
}

std::wstring StatementUrlFor(const std::wstring& downloadUrl) {
  const std::size_t cut = downloadUrl.find_first_of(L"?#");
  if (cut == std::wstring::npos) return downloadUrl + L".sig";
  return downloadUrl.substr(0, cut) + L".sig" + downloadUrl.substr(cut);
}

PayloadCheck VerifyPayloadStatement(std::string_view text, const PublicKeySet& keys,
                                    ExpectedPayload& expected) {
  PayloadStatement statement;
  switch (ParsePayloadStatement(text, statement)) {
    case StatementParse::kOk:
      break;
    case StatementParse::kUnsupportedVersion:
      return PayloadCheck::kStatementUnsupported;
    case StatementParse::kTooLong:
    case StatementParse::kMalformed:
      return PayloadCheck::kStatementMalformed;
  }
  const int signer = keys.FindSigner(statement.signedText, statement.signature);
  if (signer < 0) return PayloadCheck::kBadSignature;
  expected.size = statement.size;
  expected.sha256 = statement.sha256;
  expected.signer = keys.Fingerprint(static_cast<std::size_t>(signer));
  return PayloadCheck::kOk;
}

PayloadCheck FetchPayloadStatement(const std::wstring& downloadUrl, const PublicKeySet& keys,
                                   ExpectedPayload& expected) {
  const std::wstring url = StatementUrlFor(downloadUrl);
  const std::string url8 = platform::WideToUtf8(url);
  CWinHttpRequest request;
  request.SetVerb(L"GET");
  int status = 0;
  std::string text;
  if (request.OpenUrl(url) && request.GetStatusCode(&status) && status == 200) {
    text = request.ReadBodyText(kMaxStatementBytes);
  }
  if (text.empty()) {
    LOGA(LogLevelInfo, "statement %s: %s (status %d)", url8.c_str(),
         DescribePayloadCheck(PayloadCheck::kStatementUnavailable), status);
    return PayloadCheck::kStatementUnavailable;
  }
  const PayloadCheck check = VerifyPayloadStatement(text, keys, expected);
  if (check == PayloadCheck::kOk) {
    LOGA(LogLevelInfo, "statement %s: size %llu, sha256 %s, key %s", url8.c_str(),
         static_cast<unsigned long long>(expected.size),
         ToHex(expected.sha256.data(), expected.sha256.size()).c_str(), expected.signer.c_str());
  } else {
    LOGA(LogLevelInfo, "statement %s: %s", url8.c_str(), DescribePayloadCheck(check));
  }
  return check;
}

bool DigestOfDescriptor(int fd, std::uint64_t limit, FileDigest& out) {
  std::unique_ptr<EVP_MD_CTX, MdCtxFree> ctx(EVP_MD_CTX_new());
  if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1) return false;
  std::vector<unsigned char> block(kReadBlock);
  std::uint64_t offset = 0;
  for (;;) {
    const ssize_t n = pread(fd, block.data(), block.size(), static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) break;
    if (EVP_DigestUpdate(ctx.get(), block.data(), static_cast<std::size_t>(n)) != 1) return false;
    offset += static_cast<std::uint64_t>(n);
    if (offset > limit) {
      offset = limit + 1;
      break;
    }
  }
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(ctx.get(), out.sha256.data(), &length) != 1 ||
      length != out.sha256.size()) {
    return false;
  }
  out.size = offset;
  return true;
}

PayloadCheck CheckPayloadFile(int fd, const ExpectedPayload& expected) {
  FileDigest digest;
  if (!DigestOfDescriptor(fd, expected.size, digest)) return PayloadCheck::kReadFailed;
  if (digest.size != expected.size) return PayloadCheck::kSizeMismatch;
  if (digest.sha256 != expected.sha256) return PayloadCheck::kDigestMismatch;
  return PayloadCheck::kOk;
}

}  // namespace integrity
