#include <windows.h>

#include <bcrypt.h>
#include <wincrypt.h>

#include <vector>

#include "platform/Sha512.h"

namespace brimo {

struct Sha512::State {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  ~State() {
    if (hash) BCryptDestroyHash(hash);
    if (algorithm) BCryptCloseAlgorithmProvider(algorithm, 0);
  }
};

Sha512::Sha512() : state_(std::make_unique<State>()) {
  if (BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&state_->algorithm, BCRYPT_SHA512_ALGORITHM, nullptr, 0)))
    BCryptCreateHash(state_->algorithm, &state_->hash, nullptr, 0, nullptr, 0, 0);
}

Sha512::~Sha512() = default;

void Sha512::Update(const void* data, std::size_t size) {
  // CNG takes at most 4 GiB per call.
  const auto* bytes = static_cast<const UCHAR*>(data);
  while (size > 0 && state_->hash) {
    const ULONG chunk = static_cast<ULONG>(size > 0x40000000 ? 0x40000000 : size);
    BCryptHashData(state_->hash, const_cast<PUCHAR>(bytes), chunk, 0);
    bytes += chunk;
    size -= chunk;
  }
}

Sha512Digest Sha512::Finish() {
  // Without a hash object (no provider) the digest stays zero, which no published digest matches.
  Sha512Digest digest{};
  if (state_->hash) BCryptFinishHash(state_->hash, digest.data(), static_cast<ULONG>(digest.size()), 0);
  return digest;
}

std::string EncodeBase64(const Sha512Digest& digest) {
  DWORD length = 0;
  const DWORD flags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
  CryptBinaryToStringA(digest.data(), static_cast<DWORD>(digest.size()), flags, nullptr, &length);
  std::vector<char> text(length + 1, '\0');
  CryptBinaryToStringA(digest.data(), static_cast<DWORD>(digest.size()), flags, text.data(), &length);
  return std::string(text.data(), length);
}

std::optional<Sha512Digest> PlatformDecodeBase64Digest(const std::string& text) {
  Sha512Digest digest{};
  DWORD length = static_cast<DWORD>(digest.size());
  if (!CryptStringToBinaryA(text.data(), static_cast<DWORD>(text.size()), CRYPT_STRING_BASE64, digest.data(),
                            &length, nullptr, nullptr) ||
      length != digest.size())
    return std::nullopt;
  return digest;
}

}  // namespace brimo
