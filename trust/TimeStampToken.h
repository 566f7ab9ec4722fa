// The content of an RFC 3161 time stamp (its TSTInfo, DER), read only as far as the two fields that
// the signature check needs: the time and the digest that was stamped. The bytes come from the
// downloaded file, which anyone can write, and are read before the time stamp's own signature has
// been checked against them, so the reader takes any input and never reads outside it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace brimo {

// The hash algorithms a message imprint may name.
enum class ImprintHash { Sha1, Sha256, Sha384, Sha512 };

struct TimeStampInfo {
  ImprintHash hash = ImprintHash::Sha256;
  std::vector<std::uint8_t> hashedMessage;  // exactly the algorithm's digest size
  std::int64_t genTime = 0;                 // seconds since 1970-01-01 00:00 UTC, fractions dropped
};

// A DER TSTInfo of version 1 whose imprint uses one of the algorithms above and whose time is a valid
// UTC GeneralizedTime; nothing for anything else (other encodings, trailing bytes, lengths that run
// past the input).
std::optional<TimeStampInfo> ReadTimeStampInfo(const std::uint8_t* data, std::size_t size);

}  // namespace brimo
