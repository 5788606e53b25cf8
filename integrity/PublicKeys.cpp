#include "integrity/PublicKeys.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <memory>

#include "log/Log.h"
#include "platform/Resources.h"

namespace integrity {
namespace {

struct BioFree {
  void operator()(BIO* b) const { BIO_free(b); }
};
struct KeyFree {
  void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct MdCtxFree {
  void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};

bool OnlyBlanks(std::string_view s) {
  return s.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

}  // namespace

bool PublicKeySet::AddPem(std::string_view pem, std::string& error) {
  std::vector<Ed25519PublicKey> found;
  std::string_view rest = pem;
  static constexpr std::string_view kEnd = "-----END PUBLIC KEY-----";
  while (!OnlyBlanks(rest)) {
    const std::size_t begin = rest.find_first_not_of(" \t\r\n");
    const std::size_t end = rest.find(kEnd);
    if (rest.substr(begin, 26) != "-----BEGIN PUBLIC KEY-----" || end == std::string_view::npos) {
      error = "not a PEM public key";
      return false;
    }
    const std::string_view block = rest.substr(begin, end + kEnd.size() - begin);
    rest.remove_prefix(end + kEnd.size());
    std::unique_ptr<BIO, BioFree> bio(
        BIO_new_mem_buf(block.data(), static_cast<int>(block.size())));
    std::unique_ptr<EVP_PKEY, KeyFree> key(
        bio ? PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr) : nullptr);
    ERR_clear_error();
    if (!key) {
      error = "a PEM block does not hold a readable public key";
      return false;
    }
    if (EVP_PKEY_get_id(key.get()) != EVP_PKEY_ED25519) {
      error = "a key is not an Ed25519 key";
      return false;
    }
    Ed25519PublicKey raw{};
    std::size_t length = raw.size();
    if (EVP_PKEY_get_raw_public_key(key.get(), raw.data(), &length) != 1 || length != raw.size()) {
      error = "an Ed25519 key cannot be read";
      return false;
    }
    found.push_back(raw);
  }
  if (found.empty()) {
    error = "no public key";
    return false;
  }
  if (keys_.size() + found.size() > kMaxPublicKeys) {
    error = "more than " + std::to_string(kMaxPublicKeys) + " public keys";
    return false;
  }
  keys_.insert(keys_.end(), found.begin(), found.end());
  return true;
}

std::string PublicKeySet::Fingerprint(std::size_t index) const {
  if (index >= keys_.size()) return "";
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(keys_[index].data(), keys_[index].size(), digest, &length, EVP_sha256(), nullptr);
  return ToHex(digest, 8);
}

int PublicKeySet::FindSigner(std::string_view message, const Ed25519Signature& signature) const {
  for (std::size_t i = 0; i < keys_.size(); ++i) {
    std::unique_ptr<EVP_PKEY, KeyFree> key(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, keys_[i].data(), keys_[i].size()));
    std::unique_ptr<EVP_MD_CTX, MdCtxFree> ctx(EVP_MD_CTX_new());
    const bool good = key && ctx &&
                      EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) == 1 &&
                      EVP_DigestVerify(ctx.get(), signature.data(), signature.size(),
                                       reinterpret_cast<const unsigned char*>(message.data()),
                                       message.size()) == 1;
    ERR_clear_error();
    if (good) return static_cast<int>(i);
  }
  return -1;
}

const PublicKeySet& EmbeddedPublicKeys() {
  static const PublicKeySet keys = [] {
    PublicKeySet set;
    const platform::ResourceBytes bytes =
        platform::FindResource(platform::kResTypeRcData, kResIdPublicKeys);
    if (!bytes || bytes.size == 0) return set;
    std::string error;
    if (!set.AddPem(std::string_view(reinterpret_cast<const char*>(bytes.data), bytes.size),
                    error)) {
      LOGA(LogLevelInfo, "embedded public keys unusable: %s", error.c_str());
    }
    return set;
  }();
  return keys;
}

}  // namespace integrity
