#include "net/UrlEscape.h"

#include <cstring>

namespace brimo {

namespace {
// Bytes 0x80..0x9F that Windows-1252 maps to characters above U+00FF; the shell's ANSI escaper
// leaves these unescaped, and escapes every other high byte.
bool MapsAboveLatin1(unsigned char b) {
  static constexpr unsigned char kBytes[] = {0x80, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89,
                                             0x8A, 0x8B, 0x8C, 0x8E, 0x91, 0x92, 0x93, 0x94, 0x95,
                                             0x96, 0x97, 0x98, 0x99, 0x9A, 0x9B, 0x9C, 0x9E, 0x9F};
  return std::memchr(kBytes, b, sizeof(kBytes)) != nullptr;
}

bool NeedsEscape(unsigned char b) {
  if (b <= 0x1F || b == 0x7F) return true;
  if (b >= 0x80) return !MapsAboveLatin1(b);
  return std::strchr(" <>\"{}|\\^[]`&/?#", b) != nullptr;
}
}  // namespace

std::string EscapeSegmentPortable(const std::string& segment) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(segment.size());
  for (const char c : segment) {
    const auto b = static_cast<unsigned char>(c);
    if (NeedsEscape(b)) {
      out += '%';
      out += kHex[b >> 4];
      out += kHex[b & 0xF];
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace brimo
