#include <openssl/evp.h>

#include "trust/Sha512.h"

namespace brimo {

struct Sha512::State {
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  bool failed = false;
  ~State() { EVP_MD_CTX_free(context); }
};

Sha512::Sha512() : state_(std::make_unique<State>()) {
  state_->failed = !state_->context || EVP_DigestInit_ex(state_->context, EVP_sha512(), nullptr) != 1;
}

Sha512::~Sha512() = default;

void Sha512::Update(const void* data, std::size_t size) {
  if (!state_->failed) state_->failed = EVP_DigestUpdate(state_->context, data, size) != 1;
}

std::optional<Sha512Digest> Sha512::Finish() {
  Sha512Digest digest{};
  unsigned int length = 0;
  if (state_->failed || EVP_DigestFinal_ex(state_->context, digest.data(), &length) != 1 ||
      length != digest.size())
    return std::nullopt;
  state_->failed = true;
  return digest;
}

std::string EncodeBase64(const Sha512Digest& digest) {
  unsigned char text[4 * ((sizeof(Sha512Digest) + 2) / 3) + 1] = {};
  const int length = EVP_EncodeBlock(text, digest.data(), static_cast<int>(digest.size()));
  return std::string(reinterpret_cast<const char*>(text), static_cast<std::size_t>(length));
}

std::optional<Sha512Digest> PlatformDecodeBase64Digest(const std::string& text) {
  unsigned char bytes[66] = {};  // EVP_DecodeBlock writes the padding bytes too
  if (EVP_DecodeBlock(bytes, reinterpret_cast<const unsigned char*>(text.data()),
                      static_cast<int>(text.size())) != 66)
    return std::nullopt;
  Sha512Digest digest{};
  std::copy(bytes, bytes + digest.size(), digest.begin());
  return digest;
}

}  // namespace brimo
