// Whether a downloaded installer is the product this program installs, in a version no older than
// the one it was built to accept: read from the installer's version resource, which its signature
// covers, so it is trusted only once the signature holds.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace brimo {

// A version as a version resource holds it: four 16-bit numbers, most significant first.
using FourPartVersion = std::array<std::uint16_t, 4>;

// Exactly four decimal numbers joined by dots, each 0 to 65535 ("1.2.0.0"); nothing otherwise.
std::optional<FourPartVersion> ParseFourPartVersion(std::string_view text);
std::wstring FormatFourPartVersion(const FourPartVersion& version);

// Nothing when version is not below floor (or there is no floor); otherwise "version A is older
// than B".
std::optional<std::wstring> FloorRefusal(const FourPartVersion& version,
                                         const std::optional<FourPartVersion>& floor);

// What an installer's version resource says it is.
struct InstallerIdentity {
  std::optional<std::wstring> productName;  // the ProductName string, when there is one
  FourPartVersion productVersion{};         // the fixed (binary) product version
};

// What the installer must be. An empty product and no minimum ask for nothing.
struct ProductRequirement {
  std::wstring product;
  std::optional<FourPartVersion> minimumVersion;
};

// Nothing when the identity meets the requirement (or the requirement asks for nothing); otherwise
// why not. No identity, that is no version resource, meets no requirement.
std::optional<std::wstring> ProductRefusal(const std::optional<InstallerIdentity>& identity,
                                           const ProductRequirement& requirement);

}  // namespace brimo
