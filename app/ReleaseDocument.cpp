#include "app/ReleaseDocument.h"

#include <boost/format.hpp>
#include <sstream>
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

// Reads `path`, and `sha512` when present, from the first YAML document of the body; throws the
// library's exceptions.
ReleaseInfo ReadReleaseInfo(std::istream& body) {
  const YAML::Node document = YAML::Load(body);
  const YAML::Node path = document[kPathKey];
  // The library would turn a null value into the text "null"; a path without a value is no path.
  if (path.IsNull()) throw YAML::TypedBadConversion<std::string>(path.Mark());
  ReleaseInfo info{path.as<std::string>(), std::nullopt, std::nullopt};
  const YAML::Node digest = document[kDigestKey];
  // A digest that is there but is no scalar can never match: it is kept as an empty text.
  if (digest.IsDefined() && !digest.IsNull())
    info.sha512 = digest.IsScalar() ? digest.Scalar() : std::string();
  const YAML::Node version = document[kVersionKey];
  if (version.IsDefined() && version.IsScalar()) info.version = version.Scalar();
  return info;
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
}  // namespace

std::optional<std::string> InstallerUrlFromDocument(std::istream& body, const std::string& releaseHost,
                                                    ReleaseInfo* infoOut) {
  ReleaseInfo info;
  try {
    info = ReadReleaseInfo(body);
  } catch (const YAML::Exception& e) {
    ReportError(L"YAML parser exception: " + Utf8ToWide(e.msg, kInvalidTextFallback),
                std::wstring(kNoCodeMessage) + kSupportUrl);
    return std::nullopt;
  }
  std::optional<std::string> url = BuildInstallerUrl(releaseHost, info);
  if (url && infoOut) *infoOut = std::move(info);
  return url;
}

std::optional<std::string> FetchInstallerUrl(WebRequest& request, const std::string& releaseHost,
                                             const std::string& channel, ReleaseInfo* info, int* statusOut) {
  LogInfo(L"sending http request for version info");
  std::stringstream body(std::ios_base::in | std::ios_base::out);
  const int status = request.Perform((boost::format(kDocumentUrl) % releaseHost % channel).str(), body);
  if (statusOut) *statusOut = status;
  if (status != 200) {
    ReportError(
        (boost::wformat(L"YAML web request error - http result code %1%") % status).str(),
        (boost::wformat(L"Unable to find the latest version (code: %1%). Check your internet connection "
                        L"or contact ") %
         status)
                .str() +
            kSupportUrl);
    return std::nullopt;
  }
  return InstallerUrlFromDocument(body, releaseHost, info);
}

}  // namespace brimo
