// Names and texts that identify the product everywhere it shows itself.
#pragma once

#include "BrimoVersion.h"
#include "BuildConfig.h"

namespace brimo {

// Window title, message-box caption and the prefix of every log line.
inline constexpr wchar_t kProductTitle[] = L"" BRIMO_PRODUCT_TITLE;

// The support address that ends every error message.
inline constexpr const wchar_t* kSupportUrl = config::kSupportUrl;

}  // namespace brimo
