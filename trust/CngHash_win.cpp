#include "trust/CngHash_win.h"

namespace brimo {

CngHash::CngHash(LPCWSTR algorithm) {
  BCRYPT_ALG_HANDLE provider = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  ULONG got = 0;
  failed_ = !algorithm || !BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&provider, algorithm, nullptr, 0));
  algorithm_.reset(provider);
  failed_ =
      failed_ ||
      !BCRYPT_SUCCESS(BCryptGetProperty(provider, BCRYPT_HASH_LENGTH, reinterpret_cast<PUCHAR>(&length_),
                                        sizeof(length_), &got, 0)) ||
      !BCRYPT_SUCCESS(BCryptCreateHash(provider, &hash, nullptr, 0, nullptr, 0, 0));
  hash_.reset(hash);
}

void CngHash::Update(const void* data, std::size_t size) {
  // CNG takes at most 4 GiB per call.
  const auto* bytes = static_cast<const UCHAR*>(data);
  while (size > 0 && !failed_) {
    const ULONG chunk = static_cast<ULONG>(size > 0x40000000 ? 0x40000000 : size);
    failed_ = !BCRYPT_SUCCESS(BCryptHashData(hash_.get(), const_cast<PUCHAR>(bytes), chunk, 0));
    bytes += chunk;
    size -= chunk;
  }
}

std::optional<std::vector<BYTE>> CngHash::Finish() {
  if (failed_) return std::nullopt;
  std::vector<BYTE> digest(length_);
  failed_ = true;
  if (!BCRYPT_SUCCESS(BCryptFinishHash(hash_.get(), digest.data(), length_, 0))) return std::nullopt;
  return digest;
}

std::optional<std::vector<BYTE>> CngHash::Of(LPCWSTR algorithm, const void* data, std::size_t size) {
  CngHash hash(algorithm);
  hash.Update(data, size);
  return hash.Finish();
}

}  // namespace brimo
