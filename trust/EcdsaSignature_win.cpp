#include <windows.h>

#include "trust/EcdsaSignature_win.h"

#include <bcrypt.h>

#include <cstring>
#include <optional>
#include <vector>

#include "platform/UniqueAny_win.h"
#include "trust/CngHash_win.h"

namespace brimo {

bool EcdsaP256Verifies(const std::array<std::uint8_t, 65>& point, std::string_view message,
                       const std::array<std::uint8_t, 64>& signature) {
  if (point[0] != 0x04) return false;
  const std::optional<std::vector<BYTE>> digest =
      CngHash::Of(BCRYPT_SHA256_ALGORITHM, message.data(), message.size());
  if (!digest) return false;
  BCRYPT_ALG_HANDLE provider = nullptr;
  if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&provider, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0)))
    return false;
  const UniqueAlgorithm algorithm(provider);
  // The public blob: its header, then x and y.
  std::vector<BYTE> blob(sizeof(BCRYPT_ECCKEY_BLOB) + point.size() - 1);
  BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, 32};
  std::memcpy(blob.data(), &header, sizeof(header));
  std::memcpy(blob.data() + sizeof(header), point.data() + 1, point.size() - 1);
  BCRYPT_KEY_HANDLE imported = nullptr;
  if (!BCRYPT_SUCCESS(BCryptImportKeyPair(algorithm.get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, &imported,
                                          blob.data(), static_cast<ULONG>(blob.size()), 0)))
    return false;
  const UniqueKey key(imported);
  std::array<std::uint8_t, 64> copy = signature;
  return BCryptVerifySignature(key.get(), nullptr, const_cast<PUCHAR>(digest->data()),
                               static_cast<ULONG>(digest->size()), copy.data(),
                               static_cast<ULONG>(copy.size()), 0) == 0;
}

}  // namespace brimo
