#include "net/UrlEscape.h"

namespace brimo {

SegmentEscape EscapePathSegment(const std::string& segment) {
  constexpr std::uint32_t kBufferTooSmall = 0x80004003;  // E_POINTER, as the shell reports it
  std::string escaped = EscapeSegmentPortable(segment);
  SegmentEscape result;
  if (escaped.size() + 1 > kEscapeBufferSize) {
    result.result = kBufferTooSmall;
    result.length = static_cast<std::uint32_t>(escaped.size() + 1);
    return result;
  }
  result.length = static_cast<std::uint32_t>(escaped.size());
  result.text = std::move(escaped);
  return result;
}

}  // namespace brimo
