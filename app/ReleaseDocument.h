// The release document of a channel: a YAML file whose `path` names the current installer.
#pragma once

#include <istream>
#include <optional>
#include <string>

#include "net/WebRequest.h"

namespace brimo {

// The keys of a release document: the installer's path on the release host, and its digest.
inline constexpr char kPathKey[] = "path";
inline constexpr char kDigestKey[] = "sha512";
inline constexpr char kVersionKey[] = "version";

struct ReleaseInfo {
  std::string path;
  // The base64 SHA-512 digest of the installer, when the document names one.
  std::optional<std::string> sha512;
  // The release's version as the document gives it (reported, never relied on).
  std::optional<std::string> version;
};

// Fetches "<releaseHost>/<channel>.yml", reads `path` and returns "<releaseHost>/<escaped path>",
// filling info when given, and status with the request's status. On failure it has already logged and
// shown its message, and returns nothing.
std::optional<std::string> FetchInstallerUrl(WebRequest& request, const std::string& releaseHost,
                                             const std::string& channel, ReleaseInfo* info = nullptr,
                                             int* status = nullptr);

// The stage after the transfer: reads the body of a release document and builds the installer URL,
// reporting a document that cannot be read.
std::optional<std::string> InstallerUrlFromDocument(std::istream& body, const std::string& releaseHost,
                                                    ReleaseInfo* info = nullptr);

}  // namespace brimo
