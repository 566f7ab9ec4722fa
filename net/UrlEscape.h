// Escaping a text as one URL path segment, as the Windows shell's UrlEscapeA does with
// URL_ESCAPE_SEGMENT_ONLY.
#pragma once

#include <cstdint>
#include <string>

namespace brimo {

// The escaped text must fit this many characters, its terminating zero included.
inline constexpr std::uint32_t kEscapeBufferSize = 512;

struct SegmentEscape {
  std::uint32_t result = 0;  // 0 on success, else the HRESULT bits of the failure
  std::uint32_t length = 0;  // characters written, or on failure the size the call asked for
  std::string text;          // the escaped text; empty unless it fitted the buffer
};

// Windows: UrlEscapeA on a zero-filled buffer of kEscapeBufferSize. Elsewhere: EscapeSegmentPortable
// with the same buffer rule.
SegmentEscape EscapePathSegment(const std::string& segment);

// The same escaping without a size limit, in portable code: control characters, DEL, the characters
// " <>\"{}|\\^[]`&/?#" and the high bytes that Windows-1252 maps into Latin-1 become %XX (uppercase);
// letters, digits, other ASCII punctuation (including %) and the remaining high bytes stay.
std::string EscapeSegmentPortable(const std::string& segment);

}  // namespace brimo
