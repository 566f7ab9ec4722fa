#include <windows.h>

#include "platform/ErrorBox.h"
#include "platform/Product.h"

namespace brimo {

void PlatformShowErrorBox(const std::wstring& text) {
  MessageBoxW(nullptr, text.c_str(), kProductTitle, MB_ICONERROR);
}

}  // namespace brimo
