#include <windows.h>

#include "platform/DebugOutput.h"

namespace brimo {

void PlatformWriteDebugString(const std::wstring& text) { OutputDebugStringW(text.c_str()); }

}  // namespace brimo
