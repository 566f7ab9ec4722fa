#include <windows.h>

#include <bcrypt.h>
#include <wincrypt.h>

#include <algorithm>
#include <vector>

#include "trust/CngHash_win.h"
#include "trust/Sha512.h"

namespace brimo {

struct Sha512::State {
  CngHash hash{BCRYPT_SHA512_ALGORITHM};
};

Sha512::Sha512() : state_(std::make_unique<State>()) {}

Sha512::~Sha512() = default;

void Sha512::Update(const void* data, std::size_t size) { state_->hash.Update(data, size); }

std::optional<Sha512Digest> Sha512::Finish() {
  const std::optional<std::vector<BYTE>> bytes = state_->hash.Finish();
  if (!bytes || bytes->size() != sizeof(Sha512Digest)) return std::nullopt;
  Sha512Digest digest{};
  std::copy(bytes->begin(), bytes->end(), digest.begin());
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
