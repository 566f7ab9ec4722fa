#include <windows.h>

#include "platform/WindowsVersion.h"

namespace brimo {

std::string WindowsVersionText() {
  // RtlGetVersion reports the real version, where GetVersionEx reports what the manifest claims; it
  // is looked up in ntdll, which every process has mapped.
  using RtlGetVersionCall = LONG(WINAPI*)(OSVERSIONINFOW*);
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  const auto call = reinterpret_cast<RtlGetVersionCall>(
      reinterpret_cast<void*>(ntdll ? GetProcAddress(ntdll, "RtlGetVersion") : nullptr));
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof(info);
  if (!call || call(&info) != 0) return kUnknownWindowsVersion;
  return std::to_string(info.dwMajorVersion) + "." + std::to_string(info.dwMinorVersion) + "." +
         std::to_string(info.dwBuildNumber);
}

}  // namespace brimo
