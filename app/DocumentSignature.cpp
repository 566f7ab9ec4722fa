#include "app/DocumentSignature.h"

#include <algorithm>
#include <boost/date_time/gregorian/gregorian_types.hpp>
#include <boost/date_time/posix_time/posix_time.hpp>
#include <ctime>
#include <stdexcept>

#include "platform/DebugLog.h"
#include "trust/Sha512.h"

namespace brimo {

namespace {
constexpr char kHexDigits[] = "0123456789abcdef";
constexpr std::size_t kSignatureBase64Length = 88;
constexpr std::size_t kSignatureLineLength =
    sizeof(kSignatureLinePrefix) - 1 + kKeyIdLength + 1 + kSignatureBase64Length;
// "YYYY-MM-DDTHH:MM:SSZ": where the separators stand; every other place holds a digit.
constexpr char kUtcTimeShape[] = "dddd-dd-ddTdd:dd:ddZ";

bool IsLowerHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

std::wstring Text(const std::string& utf8) { return Utf8ToWide(utf8, kInvalidTextFallback); }
}  // namespace

std::string KeyId(const ReleaseKey& key) {
  std::string id;
  for (std::size_t i = 1; id.size() < kKeyIdLength; ++i) {
    id += kHexDigits[key[i] >> 4];
    id += kHexDigits[key[i] & 0xF];
  }
  return id;
}

std::string SignatureLine(const ReleaseKey& key, const RawSignature& signature) {
  return kSignatureLinePrefix + KeyId(key) + " " + EncodeBase64(signature) + "\n";
}

std::optional<SignedDocument> SplitSignedDocument(std::string_view document) {
  std::string_view rest = document;
  // A document saved with CR LF line ends: its last line ends in CR LF too.
  if (rest.size() >= 2 && rest.substr(rest.size() - 2) == "\r\n")
    rest.remove_suffix(2);
  else if (!rest.empty() && rest.back() == '\n')
    rest.remove_suffix(1);
  const std::size_t lineFeed = rest.rfind('\n');
  const std::size_t start = lineFeed == std::string_view::npos ? 0 : lineFeed + 1;
  const std::string_view line = rest.substr(start);
  // A fixed length before anything else: nothing below reads past it.
  const std::size_t prefix = sizeof(kSignatureLinePrefix) - 1;
  if (line.size() != kSignatureLineLength || line.compare(0, prefix, kSignatureLinePrefix) != 0 ||
      line[prefix + kKeyIdLength] != ' ')
    return std::nullopt;
  const std::string_view keyId = line.substr(prefix, kKeyIdLength);
  if (!std::all_of(keyId.begin(), keyId.end(), IsLowerHex)) return std::nullopt;
  const std::optional<Sha512Digest> signature =
      DecodeBase64Digest(std::string(line.substr(prefix + kKeyIdLength + 1)));
  if (!signature) return std::nullopt;
  return SignedDocument{document.substr(0, start), std::string(keyId), *signature};
}

std::optional<std::wstring> SignatureRefusal(std::string_view document, const std::vector<ReleaseKey>& keys,
                                             const SignatureVerifier& verify, std::string_view* signedBytes) {
  const std::optional<SignedDocument> split = SplitSignedDocument(document);
  if (!split) return std::wstring(L"no signature");
  bool known = false;
  for (const ReleaseKey& key : keys) {
    if (KeyId(key) != split->keyId) continue;
    known = true;
    if (verify(key, split->signedBytes, split->signature)) {
      if (signedBytes) *signedBytes = split->signedBytes;
      return std::nullopt;
    }
  }
  return std::wstring(known ? L"signature does not hold" : L"unknown key");
}

std::optional<std::wstring> ClaimsRefusal(const DocumentClaims& claims, const DocumentRules& rules) {
  if (!claims.channel) return std::wstring(L"no channel");
  if (*claims.channel != rules.channel) return L"for channel '" + Text(*claims.channel) + L"'";
  if (!claims.sha512) return std::wstring(L"no sha512");
  if (!claims.expires) return std::wstring(L"no expiry");
  const std::optional<std::int64_t> expires = ParseUtcTime(*claims.expires);
  if (!expires) return L"expiry '" + Text(*claims.expires) + L"' is not a UTC time YYYY-MM-DDTHH:MM:SSZ";
  if (rules.now - *expires > kExpirySlackSeconds) return L"expired at " + Text(*claims.expires);
  if (!rules.minimumVersion) return std::nullopt;
  if (!claims.version) return std::wstring(L"no version");
  const std::optional<FourPartVersion> version = ParseFourPartVersion(*claims.version);
  if (!version) return L"version '" + Text(*claims.version) + L"' is not four dotted numbers";
  return FloorRefusal(*version, rules.minimumVersion);
}

std::optional<std::int64_t> ParseUtcTime(std::string_view text) {
  if (text.size() != sizeof(kUtcTimeShape) - 1) return std::nullopt;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (kUtcTimeShape[i] == 'd' ? !digit : text[i] != kUtcTimeShape[i]) return std::nullopt;
  }
  const auto number = [text](std::size_t pos, std::size_t count) {
    unsigned value = 0;
    for (std::size_t i = pos; i < pos + count; ++i) value = value * 10 + static_cast<unsigned>(text[i] - '0');
    return value;
  };
  const unsigned hour = number(11, 2), minute = number(14, 2), second = number(17, 2);
  if (hour > 23 || minute > 59 || second > 59) return std::nullopt;
  try {
    const boost::gregorian::date date(static_cast<unsigned short>(number(0, 4)),
                                      static_cast<unsigned short>(number(5, 2)),
                                      static_cast<unsigned short>(number(8, 2)));
    const boost::posix_time::ptime time(date, boost::posix_time::time_duration(hour, minute, second));
    return (time - boost::posix_time::from_time_t(0)).total_seconds();
  } catch (const std::out_of_range&) {
    return std::nullopt;  // no such day, or a year before the library's calendar
  }
}

std::string FormatUtcTime(std::int64_t seconds) {
  return boost::posix_time::to_iso_extended_string(
             boost::posix_time::from_time_t(static_cast<std::time_t>(seconds))) +
         "Z";
}

}  // namespace brimo
