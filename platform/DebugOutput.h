// The platform's debug channel, below the log: where a finished debug string goes.
#pragma once

#include <string>

namespace brimo {

// Windows: OutputDebugStringW. Elsewhere: standard error, as UTF-8.
void PlatformWriteDebugString(const std::wstring& text);

}  // namespace brimo
