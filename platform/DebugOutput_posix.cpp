#include <cstdio>

#include "platform/DebugOutput.h"
#include "platform/TextConvert.h"

namespace brimo {

void PlatformWriteDebugString(const std::wstring& text) {
  const std::string utf8 = WideToUtf8(text);
  std::fwrite(utf8.data(), 1, utf8.size(), stderr);
}

}  // namespace brimo
