// An ECDSA P-256 signature checked with Windows' own CNG, as the release document's signature is.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace brimo {

// True when signature (r then s, 32 bytes each) is a signature by the key point (0x04, x, y) over the
// SHA-256 of message; false for any other answer, a failing step included.
bool EcdsaP256Verifies(const std::array<std::uint8_t, 65>& point, std::string_view message,
                       const std::array<std::uint8_t, 64>& signature);

}  // namespace brimo
