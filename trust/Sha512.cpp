#include "trust/Sha512.h"

#include <algorithm>

namespace brimo {

namespace {
constexpr std::size_t kDigestBase64Length = 88;

bool IsBase64Digit(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}
}  // namespace

// Decodes with the platform's own base64 reader once the text has the one shape a digest can have.
std::optional<Sha512Digest> PlatformDecodeBase64Digest(const std::string& text);

std::optional<Sha512Digest> DecodeBase64Digest(const std::string& text) {
  if (text.size() != kDigestBase64Length || text.compare(86, 2, "==") != 0) return std::nullopt;
  if (!std::all_of(text.begin(), text.begin() + 86, IsBase64Digit)) return std::nullopt;
  return PlatformDecodeBase64Digest(text);
}

}  // namespace brimo
