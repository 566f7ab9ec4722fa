// The version resource of a Windows program, read from its bytes as Windows reads it: the one that
// the program's product check reads from the held installer, and the publish command from the file
// it publishes, so that both judge a file alike. The bytes come from the network: every offset is
// checked, nothing outside the file is read, and no more than one resource's worth is held.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "trust/InstallerProduct.h"

namespace brimo {

// Reads count bytes at offset into out; false when they are not all there.
using ReadBytes = std::function<bool(std::uint64_t offset, std::size_t count, void* out)>;

// The resource of type RT_VERSION and id 1 (in the neutral language when it has one, else its first),
// its fixed product version, and the ProductName of the string table that the first entry of its
// translation list names; nothing when the file is no PE image or has no such resource.
std::optional<InstallerIdentity> ReadVersionResource(const ReadBytes& read);
std::optional<InstallerIdentity> ReadVersionResource(const std::string& image);

}  // namespace brimo
