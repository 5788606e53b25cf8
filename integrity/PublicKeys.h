// The Ed25519 public keys a brand trusts to sign its payload statements: one, or two while the
// publisher moves to a new key. They travel as PEM ("-----BEGIN PUBLIC KEY-----", the form
// `kvbrand keygen` and `openssl pkey -pubout` write) and are linked into the program as a
// resource of their own.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "integrity/PayloadStatement.h"

namespace integrity {

// Resource (type "RCDATA") holding the brand's public keys, one PEM block after another; the
// build links it in with kv_embed_brand (config/brand.cmake uses the same number).
inline constexpr int kResIdPublicKeys = 108;
inline constexpr std::size_t kMaxPublicKeys = 2;

using Ed25519PublicKey = std::array<unsigned char, 32>;

class PublicKeySet {
 public:
  // Adds every key of a PEM text. False, with nothing added and the reason in `error`, when the
  // text holds no key, a key of another kind, anything that is not PEM, or more keys than
  // kMaxPublicKeys in all.
  bool AddPem(std::string_view pem, std::string& error);

  bool empty() const { return keys_.empty(); }
  std::size_t size() const { return keys_.size(); }
  // The first 16 hex digits of the SHA-256 of key `index`: a short name to tell keys apart.
  std::string Fingerprint(std::size_t index) const;

  // The index of the key whose signature over `message` this is; -1 when none made it.
  int FindSigner(std::string_view message, const Ed25519Signature& signature) const;

 private:
  std::vector<Ed25519PublicKey> keys_;
};

// The keys linked into this executable, read once; empty for a brand without keys (or when the
// resource does not parse, which the build's own check prevents). Any thread.
const PublicKeySet& EmbeddedPublicKeys();

}  // namespace integrity
