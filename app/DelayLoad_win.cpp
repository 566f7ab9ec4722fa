// Hooks of the delay-load helper for the libraries that the program binds at first call (see
// cmake/DelayLoad.cmake). Each is loaded from system32 and nowhere else: the hooks are constant data,
// in force before any code runs, so even a call from a static constructor cannot pick up a library
// planted beside the program. A library or entry point that cannot be had ends the run as failed,
// never with the helper's unhandled exception.
#include <windows.h>

#include <delayimp.h>

#include <boost/format.hpp>
#include <cstring>
#include <string>

#include "app/ProgressState.h"
#include "platform/DebugLog.h"

namespace {

// DLL and entry-point names are ASCII.
std::wstring Widen(const char* text) { return text ? std::wstring(text, text + std::strlen(text)) : L"?"; }

[[noreturn]] void FailDelayLoad(const std::wstring& what, DWORD code) {
  brimo::LogError((boost::wformat(L"%1% (code: %2%)") % what % code).str());
  ExitProcess(static_cast<UINT>(brimo::InstallOutcome::Failed));
}

FARPROC WINAPI NotifyHook(unsigned notification, PDelayLoadInfo info) {
  if (notification != dliNotePreLoadLibrary) return nullptr;
  const std::wstring name = Widen(info->szDll);
  HMODULE module = LoadLibraryExW(name.c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  // Returning null would let the helper fall back to a plain search; fail here instead.
  if (!module) FailDelayLoad(L"library unavailable - " + name, GetLastError());
  return reinterpret_cast<FARPROC>(module);
}

FARPROC WINAPI FailureHook(unsigned notification, PDelayLoadInfo info) {
  const std::wstring library = Widen(info->szDll);
  if (notification == dliFailGetProc) {
    const std::wstring entry = info->dlp.fImportByName
                                   ? Widen(info->dlp.szProcName)
                                   : (boost::wformat(L"#%1%") % info->dlp.dwOrdinal).str();
    FailDelayLoad(L"library entry point unavailable - " + library + L"!" + entry, info->dwLastError);
  }
  FailDelayLoad(L"library unavailable - " + library, info->dwLastError);
}

}  // namespace

extern "C" {
PfnDliHook __pfnDliNotifyHook2 = NotifyHook;
PfnDliHook __pfnDliFailureHook2 = FailureHook;
}
