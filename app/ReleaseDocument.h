// The release document of a channel: a YAML file whose `path` names the current installer.
#pragma once

#include <atomic>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/DocumentSignature.h"
#include "net/WebRequest.h"

namespace brimo {

// The keys of a release document: the installer's path on the release host, and its digest.
inline constexpr char kPathKey[] = "path";
inline constexpr char kDigestKey[] = "sha512";

// What failed of a document that arrived: its signature or claims, or its reading.
inline constexpr char kSignatureFailure[] = "signature";
inline constexpr char kUnreadableFailure[] = "yaml";

// The largest document taken; a real one is a few hundred bytes.
inline constexpr std::size_t kMaxDocumentBytes = 1048576;

// How a 200 answer whose body was cut short is logged, before the library's text: as it stands for
// the installer, after "YAML " for the document.
inline constexpr wchar_t kIncompleteDownloadLog[] = L"web request error - download incomplete: ";

struct ReleaseInfo {
  std::string path;
  // The base64 SHA-512 digest of the installer, when the document names one.
  std::optional<std::string> sha512;
  // The release's version as the document gives it (reported, never relied on).
  std::optional<std::string> version;
};

// Which documents the program follows. Without keys, any it can read; with keys, only one signed by
// one of them whose claims meet the rules.
struct DocumentTrust {
  std::vector<ReleaseKey> keys;
  SignatureVerifier verify;
  DocumentRules rules;
};

// Fetches "<releaseHost>/<channel>.yml", reads `path` and returns "<releaseHost>/<escaped path>",
// filling info when given. A document larger than kMaxDocumentBytes or cut short is refused, and
// so, with keys in trust, is one that does not meet it; a set cancelRequested ends the request. On
// failure it has already logged and (unless cancelled) shown its message, left in failure (when
// given) the request's status or what else failed ("size", kSignatureFailure, kUnreadableFailure),
// and returns nothing.
std::optional<std::string> FetchInstallerUrl(WebRequest& request, const std::string& releaseHost,
                                             const std::string& channel, ReleaseInfo* info = nullptr,
                                             const DocumentTrust* trust = nullptr,
                                             const std::atomic<bool>* cancelRequested = nullptr,
                                             std::string* failure = nullptr);

// The stage after the transfer: checks and reads the body of a release document and builds the
// installer URL, reporting a document that is refused or cannot be read.
std::optional<std::string> InstallerUrlFromDocument(std::string_view body, const std::string& releaseHost,
                                                    ReleaseInfo* info = nullptr,
                                                    const DocumentTrust* trust = nullptr,
                                                    std::string* failure = nullptr);

}  // namespace brimo
