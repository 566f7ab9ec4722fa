// Whether a downloaded installer is the maker's: its Authenticode signature and its signer.
#pragma once

#include <optional>
#include <string>

#include "platform/InstallerFile.h"

namespace brimo {

// Checks the very file that will run, through the handle that file holds: a valid Authenticode
// signature whose chain ends in a trusted root, valid for code signing and not expired, made by a
// signer whose simple display name is publisher. Nothing when all of it holds; otherwise which
// check failed, with its result code in hex.
std::optional<std::wstring> InstallerSignatureRefusal(const InstallerFile& file,
                                                      const std::wstring& publisher);

}  // namespace brimo
