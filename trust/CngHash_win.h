// A digest with Windows' CNG: one hash object fed in pieces, or one call over a buffer. Every step's
// failure is kept, so a provider that fails yields no digest rather than a digest of zeros.
#pragma once

#include <windows.h>

#include <bcrypt.h>

#include <cstddef>
#include <optional>
#include <vector>

#include "platform/UniqueAny_win.h"

namespace brimo {

class CngHash {
 public:
  explicit CngHash(LPCWSTR algorithm);

  void Update(const void* data, std::size_t size);
  // The digest of everything given; nothing when any step failed. Takes no more data afterwards.
  std::optional<std::vector<BYTE>> Finish();

  static std::optional<std::vector<BYTE>> Of(LPCWSTR algorithm, const void* data, std::size_t size);

 private:
  UniqueAlgorithm algorithm_;
  UniqueHash hash_;
  DWORD length_ = 0;
  bool failed_ = false;
};

}  // namespace brimo
