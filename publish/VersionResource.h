// The version resource of a Windows program, read from its bytes on any system: what the program's
// product check reads on Windows, so that the publish command refuses what the program would refuse.
#pragma once

#include <optional>
#include <string>

#include "platform/InstallerProduct.h"

namespace brimo {

// The product name (from the string table of the first language the resource lists that has one)
// and the fixed product version; nothing when the file is no PE image or has no version resource.
// Every offset is checked against the bytes; nothing outside them is read.
std::optional<InstallerIdentity> ReadVersionResource(const std::string& image);

}  // namespace brimo
