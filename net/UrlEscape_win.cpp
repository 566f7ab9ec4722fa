#include <windows.h>

#include <shlwapi.h>

#include <vector>

#include "net/UrlEscape.h"

namespace brimo {

SegmentEscape EscapePathSegment(const std::string& segment) {
  std::vector<char> buffer(kEscapeBufferSize, '\0');
  DWORD length = kEscapeBufferSize;
  const HRESULT hr = UrlEscapeA(segment.c_str(), buffer.data(), &length, URL_ESCAPE_SEGMENT_ONLY);
  SegmentEscape result;
  result.result = static_cast<std::uint32_t>(hr);
  result.length = length;
  // After a failure the length is the size the call needed, which may lie beyond the buffer: the
  // text is taken only when it fitted.
  if (length < kEscapeBufferSize) result.text.assign(buffer.data(), length);
  return result;
}

}  // namespace brimo
