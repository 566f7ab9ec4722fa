// Feeds arbitrary bytes to the reader of a time stamp's content, and traps when what it accepts
// breaks what the signature check relies on: a digest of exactly its algorithm's size, and a time
// between the year 0 and the year 9999.
#include <cstddef>
#include <cstdint>
#include <optional>

#include "trust/TimeStampToken.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::optional<brimo::TimeStampInfo> info = brimo::ReadTimeStampInfo(data, size);
  if (!info) return 0;
  std::size_t digestSize = 0;
  switch (info->hash) {
    case brimo::ImprintHash::Sha1:
      digestSize = 20;
      break;
    case brimo::ImprintHash::Sha256:
      digestSize = 32;
      break;
    case brimo::ImprintHash::Sha384:
      digestSize = 48;
      break;
    case brimo::ImprintHash::Sha512:
      digestSize = 64;
      break;
  }
  if (info->hashedMessage.size() != digestSize) __builtin_trap();
  if (info->genTime < -62167219200 || info->genTime > 253402300799) __builtin_trap();
  return 0;
}
