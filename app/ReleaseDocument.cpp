#include "app/ReleaseDocument.h"

#include <boost/format.hpp>
#include <yaml-cpp/yaml.h>

#include "net/UrlEscape.h"
#include "platform/DebugLog.h"
#include "platform/ErrorBox.h"
#include "platform/Product.h"

namespace brimo {

namespace {
constexpr char kDocumentUrl[] = "%1%/%2%.yml";
constexpr char kInstallerUrl[] = "%1%/%2%";
constexpr wchar_t kNoCodeMessage[] =
    L"Unable to find the latest version. Check your internet connection or contact ";
constexpr wchar_t kCodeMessage[] =
    L"Unable to find the latest version (code: %1%). Check your internet connection or contact ";

template <class Code>
void ReportWithCode(const std::wstring& logMessage, const Code& code) {
  ReportError(logMessage, (boost::wformat(kCodeMessage) % code).str() + kSupportUrl);
}

// A value as written: nothing when absent or null. Anything but a scalar can never match what a
// check expects, so it is kept as an empty text.
std::optional<std::string> ScalarText(const YAML::Node& node) {
  if (!node.IsDefined() || node.IsNull()) return std::nullopt;
  return node.IsScalar() ? node.Scalar() : std::string();
}

// The first YAML document of the body; throws the library's exceptions.
YAML::Node LoadDocument(std::string_view body) { return YAML::Load(std::string(body)); }

// Reads `path`, and `sha512` when present; throws the library's exceptions.
ReleaseInfo ReadReleaseInfo(const YAML::Node& document) {
  const YAML::Node path = document[kPathKey];
  // The library would turn a null value into the text "null"; a path without a value is no path.
  if (path.IsNull()) throw YAML::TypedBadConversion<std::string>(path.Mark());
  return ReleaseInfo{path.as<std::string>(), ScalarText(document[kDigestKey]),
                     ScalarText(document[kVersionKey])};
}

std::optional<std::string> BuildInstallerUrl(const std::string& releaseHost, const ReleaseInfo& info) {
  const SegmentEscape escaped = EscapePathSegment(info.path);
  if (escaped.result != 0)
    LogError((boost::wformat(L"UrlEscapeA call failed with result 0x%X") % escaped.result).str());
  // A path whose escaped form does not fit the buffer would give a cut-off URL that still points at
  // the release host: fail instead of downloading some other file.
  if (escaped.length >= kEscapeBufferSize) {
    ReportError((boost::wformat(
                     L"installer path too long: escaped form needs a buffer of %1% characters, it has %2%") %
                 escaped.length % kEscapeBufferSize)
                    .str(),
                std::wstring(kNoCodeMessage) + kSupportUrl);
    return std::nullopt;
  }
  return (boost::format(kInstallerUrl) % releaseHost % escaped.text).str();
}

DocumentClaims ReadDocumentClaims(const YAML::Node& document) {
  return DocumentClaims{ScalarText(document[kChannelKey]), ScalarText(document[kDigestKey]),
                        ScalarText(document[kExpiresKey]), ScalarText(document[kVersionKey])};
}

// Reads the document's fields (and its claims, when asked); the library's complaint when it cannot.
std::optional<std::wstring> ReadDocument(std::string_view body, bool withClaims, ReleaseInfo& info,
                                         DocumentClaims& claims) {
  try {
    const YAML::Node document = LoadDocument(body);
    info = ReadReleaseInfo(document);
    if (withClaims) claims = ReadDocumentClaims(document);
    return std::nullopt;
  } catch (const YAML::Exception& e) {
    return Utf8ToWide(e.msg, kInvalidTextFallback);
  }
}

void ReportRefusal(const std::wstring& reason) {
  ReportWithCode(L"release document signature check failed - " + reason, L"signature");
}
}  // namespace

std::optional<std::string> InstallerUrlFromDocument(std::string_view body, const std::string& releaseHost,
                                                    ReleaseInfo* infoOut, const DocumentTrust* trust,
                                                    std::string* failure) {
  const auto failed = [failure](const char* code) {
    if (failure) *failure = code;
    return std::nullopt;
  };
  const bool signedOnly = trust && !trust->keys.empty();
  // The signature is checked before the YAML reader sees a byte, and the reader sees only what it covers.
  if (signedOnly) {
    if (const std::optional<std::wstring> refusal =
            SignatureRefusal(body, trust->keys, trust->verify, &body)) {
      ReportRefusal(*refusal);
      return failed(kSignatureFailure);
    }
  }
  ReleaseInfo info;
  DocumentClaims claims;
  if (const std::optional<std::wstring> complaint = ReadDocument(body, signedOnly, info, claims)) {
    ReportError(L"YAML parser exception: " + *complaint, std::wstring(kNoCodeMessage) + kSupportUrl);
    return failed(kUnreadableFailure);
  }
  if (signedOnly) {
    if (const std::optional<std::wstring> refusal = ClaimsRefusal(claims, trust->rules)) {
      ReportRefusal(*refusal);
      return failed(kSignatureFailure);
    }
  }
  std::optional<std::string> url = BuildInstallerUrl(releaseHost, info);
  if (!url) return failed(kUnreadableFailure);
  if (infoOut) *infoOut = std::move(info);
  return url;
}

std::optional<std::string> FetchInstallerUrl(WebRequest& request, const std::string& releaseHost,
                                             const std::string& channel, ReleaseInfo* info,
                                             const DocumentTrust* trust,
                                             const std::atomic<bool>* cancelRequested, std::string* failure) {
  LogInfo(L"sending http request for version info");
  BoundedBody body(kMaxDocumentBytes);
  if (cancelRequested)
    request.SetProgressHandler(
        [cancelRequested](std::int64_t, std::int64_t) { return cancelRequested->load() ? 1 : 0; });
  const int status =
      request.Perform((boost::format(kDocumentUrl) % releaseHost % channel).str(), body.Sink());
  request.SetProgressHandler(nullptr);
  if (failure) *failure = std::to_string(status);
  if (cancelRequested && cancelRequested->load()) {
    LogInfo(L"release document request cancelled by user");
    return std::nullopt;
  }
  if (status != 200) {
    ReportWithCode((boost::wformat(L"YAML web request error - http result code %1%") % status).str(), status);
    return std::nullopt;
  }
  if (body.overflowed()) {
    ReportWithCode(
        (boost::wformat(L"release document too large - more than %1% bytes") % kMaxDocumentBytes).str(),
        L"size");
    if (failure) *failure = "size";
    return std::nullopt;
  }
  // The oversize body above ended its transfer too and keeps its code. Any other body cut short may
  // still read as a document, but not as the one the server sent.
  if (!request.LastTransferComplete()) {
    ReportWithCode(L"YAML " + std::wstring(kIncompleteDownloadLog) +
                       Utf8ToWide(request.LastTransferError(), kInvalidTextFallback),
                   status);
    return std::nullopt;
  }
  return InstallerUrlFromDocument(body.text(), releaseHost, info, trust, failure);
}

}  // namespace brimo
