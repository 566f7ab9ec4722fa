#include <windows.h>

#include <cwchar>
#include <vector>

#include "platform/InstallerProduct.h"

namespace brimo {

namespace {

// The product name under one language and code page of the string table, when there is one.
std::optional<std::wstring> ProductName(const std::vector<unsigned char>& data, WORD language,
                                        WORD codePage) {
  wchar_t query[64];
  std::swprintf(query, sizeof(query) / sizeof(query[0]), L"\\StringFileInfo\\%04x%04x\\ProductName", language,
                codePage);
  void* text = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(data.data(), query, &text, &length) || !text) return std::nullopt;
  const wchar_t* name = static_cast<const wchar_t*>(text);
  return std::wstring(name, wcsnlen(name, length));
}

}  // namespace

std::optional<InstallerIdentity> ReadInstallerIdentity(const InstallerFile& file) {
  // The held handle denies writing, renaming and deleting, so the path names the very file held.
  // Language-neutral only: strings from a resource file beside the installer (a planted
  // language-specific .mui) are never read.
  const std::wstring path = file.Path().wstring();
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeExW(FILE_VER_GET_NEUTRAL, path.c_str(), &ignored);
  if (size == 0) return std::nullopt;
  std::vector<unsigned char> data(size);
  if (!GetFileVersionInfoExW(FILE_VER_GET_NEUTRAL, path.c_str(), 0, size, data.data())) return std::nullopt;

  void* block = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(data.data(), L"\\", &block, &length) || !block || length < sizeof(VS_FIXEDFILEINFO))
    return std::nullopt;
  const VS_FIXEDFILEINFO& fixed = *static_cast<const VS_FIXEDFILEINFO*>(block);
  if (fixed.dwSignature != VS_FFI_SIGNATURE) return std::nullopt;
  InstallerIdentity identity;
  identity.productVersion = {HIWORD(fixed.dwProductVersionMS), LOWORD(fixed.dwProductVersionMS),
                             HIWORD(fixed.dwProductVersionLS), LOWORD(fixed.dwProductVersionLS)};

  // The string table of the first language the resource lists that has a product name.
  struct Translation {
    WORD language;
    WORD codePage;
  };
  if (VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", &block, &length) && block) {
    const Translation* translations = static_cast<const Translation*>(block);
    for (UINT i = 0; i < length / sizeof(Translation) && !identity.productName; ++i)
      identity.productName = ProductName(data, translations[i].language, translations[i].codePage);
  }
  return identity;
}

}  // namespace brimo
