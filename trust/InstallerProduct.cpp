#include "trust/InstallerProduct.h"

#include <boost/format.hpp>

namespace brimo {

std::optional<FourPartVersion> ParseFourPartVersion(std::string_view text) {
  FourPartVersion version{};
  std::size_t pos = 0;
  for (std::size_t part = 0; part < version.size(); ++part) {
    if (part > 0) {
      if (pos >= text.size() || text[pos] != '.') return std::nullopt;
      ++pos;
    }
    const std::size_t start = pos;
    std::uint32_t value = 0;
    // Five digits hold any 16-bit number; more is never a version part.
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && pos - start < 5)
      value = value * 10 + static_cast<std::uint32_t>(text[pos++] - '0');
    if (pos == start || value > 0xFFFF || (pos < text.size() && text[pos] >= '0' && text[pos] <= '9'))
      return std::nullopt;
    version[part] = static_cast<std::uint16_t>(value);
  }
  if (pos != text.size()) return std::nullopt;
  return version;
}

std::wstring FormatFourPartVersion(const FourPartVersion& version) {
  return (boost::wformat(L"%1%.%2%.%3%.%4%") % version[0] % version[1] % version[2] % version[3]).str();
}

std::optional<std::wstring> FloorRefusal(const FourPartVersion& version,
                                         const std::optional<FourPartVersion>& floor) {
  // std::array compares part by part, most significant first.
  if (!floor || !(version < *floor)) return std::nullopt;
  return L"version " + FormatFourPartVersion(version) + L" is older than " + FormatFourPartVersion(*floor);
}

std::optional<std::wstring> ProductRefusal(const std::optional<InstallerIdentity>& identity,
                                           const ProductRequirement& requirement) {
  if (requirement.product.empty() && !requirement.minimumVersion) return std::nullopt;
  if (!identity) return std::wstring(L"no version resource");
  if (!requirement.product.empty()) {
    if (!identity->productName) return std::wstring(L"no product name");
    if (*identity->productName != requirement.product)
      return L"product is '" + *identity->productName + L"', expected '" + requirement.product + L"'";
  }
  return FloorRefusal(identity->productVersion, requirement.minimumVersion);
}

}  // namespace brimo
