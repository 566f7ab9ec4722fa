// The release document of a channel: a YAML file whose `path` names the current installer.
#pragma once

#include <optional>
#include <string>

#include "net/WebRequest.h"

namespace brimo {

struct ReleaseInfo {
  std::string path;
};

// Fetches "<releaseHost>/<channel>.yml", reads `path` and returns "<releaseHost>/<escaped path>".
// On failure it has already logged and shown its message, and returns nothing.
std::optional<std::string> FetchInstallerUrl(WebRequest& request, const std::string& releaseHost,
                                             const std::string& channel);

}  // namespace brimo
