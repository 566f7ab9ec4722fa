#include <codecvt>
#include <locale>

#include "platform/TextConvert.h"

namespace brimo {

namespace {
// wchar_t holds UTF-32 here; the standard UTF-8 facet rejects malformed and overlong sequences.
using Utf8Facet = std::codecvt_utf8<wchar_t>;
}  // namespace

std::optional<std::wstring> DecodeUtf8(const std::string& text) {
  Utf8Facet facet;
  std::mbstate_t state{};
  std::wstring wide(text.size(), L'\0');
  const char* next = nullptr;
  wchar_t* out = nullptr;
  const auto result = facet.in(state, text.data(), text.data() + text.size(), next, wide.data(),
                               wide.data() + wide.size(), out);
  if (result != std::codecvt_base::ok || next != text.data() + text.size()) return std::nullopt;
  wide.resize(static_cast<size_t>(out - wide.data()));
  // The facet lets encoded surrogates through; they are not well-formed UTF-8.
  for (const wchar_t c : wide)
    if (c >= 0xD800 && c <= 0xDFFF) return std::nullopt;
  return wide;
}

std::string WideToUtf8(const std::wstring& text) {
  Utf8Facet facet;
  std::mbstate_t state{};
  std::string utf8(text.size() * 4, '\0');
  std::wstring safe = text;
  for (auto& c : safe)
    if ((c >= 0xD800 && c <= 0xDFFF) || static_cast<unsigned long>(c) > 0x10FFFF) c = 0xFFFD;
  const wchar_t* next = nullptr;
  char* out = nullptr;
  facet.out(state, safe.data(), safe.data() + safe.size(), next, utf8.data(), utf8.data() + utf8.size(), out);
  utf8.resize(static_cast<size_t>(out - utf8.data()));
  return utf8;
}

}  // namespace brimo
