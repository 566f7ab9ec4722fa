// Conversions between UTF-8 and the platform's wide text.
#pragma once

#include <optional>
#include <string>

namespace brimo {

// Decodes well-formed UTF-8; nothing for malformed input (including a sequence cut off at the end).
std::optional<std::wstring> DecodeUtf8(const std::string& text);

// Encodes wide text as UTF-8; an unpaired surrogate becomes U+FFFD.
std::string WideToUtf8(const std::wstring& text);

}  // namespace brimo
