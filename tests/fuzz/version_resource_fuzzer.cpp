// Feeds arbitrary bytes, as a downloaded file, to the version-resource reader, which must never read
// outside them (AddressSanitizer watches the copy the reader is given) and never name a product longer
// than the resource that holds it.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "trust/VersionResource.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string image(reinterpret_cast<const char*>(data), size);
  const std::optional<brimo::InstallerIdentity> identity = brimo::ReadVersionResource(image);
  if (identity && identity->productName && identity->productName->size() > 0xFFFF) __builtin_trap();
  return 0;
}
