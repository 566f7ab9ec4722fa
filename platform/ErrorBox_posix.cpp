#include <cstdio>

#include "platform/ErrorBox.h"
#include "platform/Product.h"
#include "platform/TextConvert.h"

namespace brimo {

// No message boxes here: the text goes to standard error under the product's caption.
void PlatformShowErrorBox(const std::wstring& text) {
  const std::string line = WideToUtf8(std::wstring(kProductTitle) + L": " + text + L"\n");
  std::fwrite(line.data(), 1, line.size(), stderr);
}

}  // namespace brimo
