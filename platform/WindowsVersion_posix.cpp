#include "platform/WindowsVersion.h"

namespace brimo {

std::string WindowsVersionText() { return kUnknownWindowsVersion; }

}  // namespace brimo
