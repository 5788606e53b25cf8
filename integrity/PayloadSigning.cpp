#include "integrity/PayloadSigning.h"

#include <fcntl.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <string.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>

namespace integrity {
namespace {

struct BioFree {
  void operator()(BIO* b) const { BIO_free(b); }
};
struct KeyFree {
  void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct KeyCtxFree {
  void operator()(EVP_PKEY_CTX* c) const { EVP_PKEY_CTX_free(c); }
};
struct MdCtxFree {
  void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;

std::string SystemError(const std::string& what) {
  return what + ": " + strerror(errno);
}

// The PEM text a BIO writer produced.
std::string Pem(int (*write)(BIO*, EVP_PKEY*), EVP_PKEY* key) {
  std::unique_ptr<BIO, BioFree> bio(BIO_new(BIO_s_mem()));
  if (!bio || write(bio.get(), key) != 1) return "";
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio.get(), &data);
  return size > 0 ? std::string(data, static_cast<std::size_t>(size)) : "";
}

int WritePrivate(BIO* bio, EVP_PKEY* key) {
  return PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr);
}
int WritePublic(BIO* bio, EVP_PKEY* key) {
  return PEM_write_bio_PUBKEY(bio, key);
}

// Writes `text` to a new file `path` with `mode`; with `exclusive` an existing file is an
// error, else it is replaced in one step (a temporary beside it, then rename).
bool WriteNewFile(const std::string& path, const std::string& text, mode_t mode, bool exclusive,
                  std::string& error) {
  const std::string target = exclusive ? path : path + ".tmp";
  const int fd = open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
  if (fd < 0) {
    error = SystemError(target);
    return false;
  }
  bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  ok = fsync(fd) == 0 && ok;
  ok = close(fd) == 0 && ok;
  if (ok && !exclusive && rename(target.c_str(), path.c_str()) != 0) ok = false;
  if (!ok) {
    error = SystemError(path);
    unlink(target.c_str());
  }
  return ok;
}

bool ReadSmallFile(const std::string& path, std::size_t limit, std::string& text,
                   std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = SystemError(path);
    return false;
  }
  text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (text.size() > limit) {
    error = path + ": larger than " + std::to_string(limit) + " bytes";
    return false;
  }
  return true;
}

bool DigestOfFile(const std::string& path, FileDigest& digest, std::string& error) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = SystemError(path);
    return false;
  }
  const bool ok = DigestOfDescriptor(fd, kMaxPayloadSize, digest);
  close(fd);
  if (!ok) error = path + ": read failed";
  return ok;
}

}  // namespace

bool GenerateSigningKey(const std::string& keyFile, std::string& error) {
  std::unique_ptr<EVP_PKEY_CTX, KeyCtxFree> ctx(EVP_PKEY_CTX_new_id(EVP_PKEY_ED25519, nullptr));
  EVP_PKEY* raw = nullptr;
  if (!ctx || EVP_PKEY_keygen_init(ctx.get()) != 1 || EVP_PKEY_keygen(ctx.get(), &raw) != 1) {
    ERR_clear_error();
    error = "cannot make an Ed25519 key";
    return false;
  }
  Key key(raw);
  const std::string privatePem = Pem(&WritePrivate, key.get());
  const std::string publicPem = Pem(&WritePublic, key.get());
  if (privatePem.empty() || publicPem.empty()) {
    error = "cannot write the key as PEM";
    return false;
  }
  if (!WriteNewFile(keyFile, privatePem, 0600, true, error)) return false;
  if (!WriteNewFile(keyFile + ".pub", publicPem, 0644, true, error)) {
    unlink(keyFile.c_str());
    return false;
  }
  return true;
}

bool SignPayloadFile(const std::string& keyFile, const std::string& payloadFile,
                     std::string& error) {
  std::string pem;
  if (!ReadSmallFile(keyFile, 64 * 1024, pem, error)) return false;
  std::unique_ptr<BIO, BioFree> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  Key key(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr);
  ERR_clear_error();
  if (!key || EVP_PKEY_get_id(key.get()) != EVP_PKEY_ED25519) {
    error = keyFile + ": not an Ed25519 private key";
    return false;
  }
  FileDigest digest;
  if (!DigestOfFile(payloadFile, digest, error)) return false;
  const std::string text = PayloadStatementSignedText(digest.size, digest.sha256);
  Ed25519Signature signature{};
  std::size_t length = signature.size();
  std::unique_ptr<EVP_MD_CTX, MdCtxFree> ctx(EVP_MD_CTX_new());
  if (!ctx || EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) != 1 ||
      EVP_DigestSign(ctx.get(), signature.data(), &length,
                     reinterpret_cast<const unsigned char*>(text.data()), text.size()) != 1 ||
      length != signature.size()) {
    ERR_clear_error();
    error = "signing failed";
    return false;
  }
  const std::string sigFile = payloadFile + ".sig";
  unlink((sigFile + ".tmp").c_str());
  return WriteNewFile(sigFile, FormatPayloadStatement(digest.size, digest.sha256, signature), 0644,
                      false, error);
}

PayloadCheck VerifyPayloadFile(const std::string& payloadFile, const PublicKeySet& keys,
                               ExpectedPayload& expected) {
  std::string text, error;
  if (!ReadSmallFile(payloadFile + ".sig", kMaxStatementBytes, text, error)) {
    return PayloadCheck::kStatementUnavailable;
  }
  ExpectedPayload stated;
  const PayloadCheck check = VerifyPayloadStatement(text, keys, stated);
  if (check != PayloadCheck::kOk) return check;
  const int fd = open(payloadFile.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return PayloadCheck::kReadFailed;
  const PayloadCheck file = CheckPayloadFile(fd, stated);
  close(fd);
  expected = stated;
  return file;
}

}  // namespace integrity
