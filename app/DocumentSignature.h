// A release document signed in its own last line, and what a signed document must say before the
// program follows it. Portable: the signature itself is checked by a verifier the caller hands in
// (the system's crypto in the program, OpenSSL in the publish command and the tests).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "trust/InstallerProduct.h"

namespace brimo {

// An ECDSA P-256 public key as its uncompressed point: 0x04, then x and y, 32 bytes each.
using ReleaseKey = std::array<std::uint8_t, 65>;
// An ECDSA P-256 signature as r then s, 32 bytes each, big-endian.
using RawSignature = std::array<std::uint8_t, 64>;

// True when signature is an ECDSA P-256 signature by key over the SHA-256 of message.
using SignatureVerifier =
    std::function<bool(const ReleaseKey& key, std::string_view message, const RawSignature& signature)>;

// The last line of a signed document: "# signature: KEYID BASE64", a YAML comment, where KEYID names
// the key and BASE64 is the raw signature (88 characters). It covers every byte before that line.
inline constexpr char kSignatureLinePrefix[] = "# signature: ";
// A key's id: the first 8 bytes of its x coordinate in lowercase hexadecimal.
inline constexpr std::size_t kKeyIdLength = 16;

// The keys a signed document carries beside the installer's.
inline constexpr char kChannelKey[] = "channel";
inline constexpr char kExpiresKey[] = "expires";
inline constexpr char kVersionKey[] = "version";

// A document is refused once the clock is more than this past its expiry: clocks run ahead.
inline constexpr std::int64_t kExpirySlackSeconds = 24 * 60 * 60;

std::string KeyId(const ReleaseKey& key);

// The line that signs a document, with its line feed.
std::string SignatureLine(const ReleaseKey& key, const RawSignature& signature);

struct SignedDocument {
  std::string_view signedBytes;  // everything before the signature line
  std::string keyId;
  RawSignature signature{};
};

// Splits a document at its last line (one final line feed or CR LF allowed); nothing when that line
// is not exactly a signature line.
std::optional<SignedDocument> SplitSignedDocument(std::string_view document);

// Nothing when the document's last line is a signature by one of keys over the bytes before it,
// which are then in *signedBytes; otherwise why not.
std::optional<std::wstring> SignatureRefusal(std::string_view document, const std::vector<ReleaseKey>& keys,
                                             const SignatureVerifier& verify, std::string_view* signedBytes);

// What a signed document states, each as written when present.
struct DocumentClaims {
  std::optional<std::string> channel;
  std::optional<std::string> sha512;
  std::optional<std::string> expires;
  std::optional<std::string> version;
};

// What the program accepts: its channel, its floor when it has one, and the time now (seconds since
// 1970-01-01T00:00:00Z).
struct DocumentRules {
  std::string channel;
  std::optional<FourPartVersion> minimumVersion;
  std::int64_t now = 0;
};

// Nothing when a document whose signature holds may be followed; otherwise why not.
std::optional<std::wstring> ClaimsRefusal(const DocumentClaims& claims, const DocumentRules& rules);

// An RFC 3339 UTC time written exactly as "YYYY-MM-DDTHH:MM:SSZ", as seconds since 1970; nothing for
// any other text or an impossible date.
std::optional<std::int64_t> ParseUtcTime(std::string_view text);
std::string FormatUtcTime(std::int64_t seconds);

}  // namespace brimo
