// The maker's key that signs release documents, through OpenSSL: an EC P-256 private key in a PEM
// file, or one on a PKCS#11 token through OpenSSL's pkcs11 engine. Also OpenSSL's check of such a
// signature, which the publish command and the tests hand to the program's own rules.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "app/DocumentSignature.h"

namespace brimo {

struct DocumentKeyOptions {
  std::string key;                          // a PEM file, or a "pkcs11:" URI with pkcs11Module
  std::optional<std::string> pkcs11Module;  // the token's PKCS#11 library
  // The token's PIN, or the PEM file's password: read from a file or an environment variable only.
  std::optional<std::string> pinFile;
  std::optional<std::string> pinEnv;
};

class DocumentSigner {
 public:
  // Throws PublishError when the key cannot be loaded or is not an EC P-256 key.
  explicit DocumentSigner(const DocumentKeyOptions& options);
  ~DocumentSigner();
  DocumentSigner(const DocumentSigner&) = delete;
  DocumentSigner& operator=(const DocumentSigner&) = delete;

  const ReleaseKey& publicKey() const { return publicKey_; }
  // ECDSA over the SHA-256 of message, as r and s. Throws PublishError.
  RawSignature Sign(std::string_view message) const;

 private:
  struct Handles;
  std::unique_ptr<Handles> handles_;
  ReleaseKey publicKey_{};
};

// A SignatureVerifier: OpenSSL's ECDSA P-256 check over the SHA-256 of message.
bool VerifyDocumentSignature(const ReleaseKey& key, std::string_view message, const RawSignature& signature);

}  // namespace brimo
