// Whether a downloaded installer is the maker's: its Authenticode signature and its signer.
#pragma once

#include <optional>
#include <string>

#include "trust/InstallerFile.h"

namespace brimo {

// Checks the very file that will run, through the handle that holds it (a file not held is refused):
// a valid Authenticode signature whose chain ends in a trusted root, valid for code signing, made by
// a signer whose simple display name is publisher. The chain is evaluated at the time of a sound time
// stamp, so a certificate that has expired since still counts; without one it is evaluated now.
// Nothing when all of it holds; otherwise which check failed, with its result code in hex.
std::optional<std::wstring> InstallerSignatureRefusal(const InstallerFile& file,
                                                      const std::wstring& publisher);

}  // namespace brimo
