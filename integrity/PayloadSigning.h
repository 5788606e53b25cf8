// The publisher's side of payload statements (kvbrand keygen / sign / verify): Ed25519 key pairs
// in PEM files and the statement written beside an installer. Results are plain values with an
// English reason; nothing throws. Any thread.
#pragma once

#include <string>

#include "integrity/PayloadCheck.h"

namespace integrity {

// Makes a key pair: the private key in `keyFile` (PKCS#8 PEM, mode 0600, never replacing an
// existing file) and the public key in `keyFile` + ".pub" (PEM, 0644).
bool GenerateSigningKey(const std::string& keyFile, std::string& error);

// Signs `payloadFile`: writes its statement (size, SHA-256, signature with the private key in
// `keyFile`) to `payloadFile` + ".sig", replacing an earlier one in one step.
bool SignPayloadFile(const std::string& keyFile, const std::string& payloadFile,
                     std::string& error);

// Checks `payloadFile` against `payloadFile` + ".sig" with `keys`: kOk only when the statement
// parses, one of the keys signed it, and the file's size and SHA-256 are the statement's.
// `expected` receives what a verified statement says, also when the file then differs.
PayloadCheck VerifyPayloadFile(const std::string& payloadFile, const PublicKeySet& keys,
                               ExpectedPayload& expected);

}  // namespace integrity
