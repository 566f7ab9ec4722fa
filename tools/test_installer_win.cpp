// brimo-test-installer: a stand-in for the product installer and for the application it installs, for
// end-to-end tests. The role follows from the program's own file name:
//   "Quarn Brimo Beta.exe" (any case): the application. Appends
//       started cwd=<current directory> args=[<command line after the program token>]
//     to C:\brimo-test\app-started.txt and exits with 0.
//   any other name: the installer. Configured by a trailer at the end of its own file (tests make variants
//     with `cp brimo-test-installer.exe x.exe; printf 'BRIMO-TEST-CONFIG{exit=3;sleep=500}' >> x.exe`):
//       exit=N         exit code, unsigned 32-bit (default 0)
//       sleep=MS       sleep before anything else (default 0)
//       install=0|1    copy this file to <ProgramW6432 or ProgramFiles>\Quarn Brimo Beta\Quarn Brimo Beta.exe
//                      (default 1)
//       lock-ms=MS     keep this file open without delete sharing for MS ms after the installer has exited,
//                      so that deleting it fails with ERROR_SHARING_VIOLATION (default 0)
//       delete-self=0|1  remove this file from its path before exiting (default 0)
//     It appends
//       run args=[<command line after the program token, verbatim>] cwd=<current directory> self=<own path>
//     to C:\brimo-test\installer-runs.txt, and
//       folder sddl=<its folder's owner and DACL as SDDL> others=[<names beside it in the folder>]
//     to C:\brimo-test\installer-folder.txt, installs, arranges lock/delete and exits with `exit`. Problems
//     with these steps are appended to C:\brimo-test\installer-errors.txt.
// All record files are UTF-8 with LF line ends.
//
// A running image cannot be deleted (DeleteFileW fails with ERROR_ACCESS_DENIED, on Windows and under Wine),
// but it can be renamed within its volume; delete-self therefore moves the file to
// C:\brimo-test\deleted-<pid>.exe (or next to itself as <name>.deleted-<pid> when that fails), so the
// original path no longer exists once the installer exits. lock-ms is served by a copy of this file,
// C:\brimo-test\hold-<pid>.exe, started as `hold-<pid>.exe --hold <path> <ms> <installer pid>`: it opens
// <path> (read access, sharing read and write only), signals the installer, waits for the installer to exit,
// sleeps <ms> and closes the file. It runs from a copy because a process started from <path> itself would
// make deletion fail with a different error. Copies left by earlier runs are removed when the installer
// starts.
//
// Its variants (tools/CMakeLists.txt) differ only in their version resource (test_installer_win.rc): the
// product and version that the signed end-to-end build asks for, another product, an older version, none.
//
// Build: x86_64-w64-mingw32-g++-posix -std=c++17 -O2 -Wall -Wextra -municode -mwindows -static -static-libgcc
//        -static-libstdc++ -o brimo-test-installer.exe tools/test_installer_win.cpp
#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <cstdlib>
#include <cwchar>
#include <string>

#include "text_escape.h"

namespace {

constexpr wchar_t kRecordDir[] = L"C:\\brimo-test";
constexpr wchar_t kAppFileName[] = L"Quarn Brimo Beta.exe";
constexpr char kConfigMarker[] = "BRIMO-TEST-CONFIG{";
constexpr DWORD kTrailerWindow = 4096;

struct Handle {
  HANDLE h;
  explicit Handle(HANDLE handle) : h(handle) {}
  ~Handle() {
    if (h && h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
  bool valid() const { return h && h != INVALID_HANDLE_VALUE; }
};

struct Config {
  unsigned long long exitCode = 0;
  unsigned long long sleepMs = 0;
  unsigned long long lockMs = 0;
  bool install = true;
  bool deleteSelf = false;
};

std::wstring SelfPath() {
  std::wstring path(32768, L'\0');
  path.resize(GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size())));
  return path;
}

std::wstring CurrentDir() {
  std::wstring dir(GetCurrentDirectoryW(0, nullptr), L'\0');
  dir.resize(GetCurrentDirectoryW(static_cast<DWORD>(dir.size()), &dir[0]));
  return dir;
}

std::wstring Env(const wchar_t* name) {
  DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
  if (size == 0) return std::wstring();
  std::wstring value(size, L'\0');
  value.resize(GetEnvironmentVariableW(name, &value[0], size));
  return value;
}

// What follows the program token of the command line, with the program token parsed the way the system
// parses it (quoted up to the next quote, else up to the first blank).
std::wstring ArgumentTail() {
  const wchar_t* p = GetCommandLineW();
  if (*p == L'"') {
    for (++p; *p && *p != L'"'; ++p) {
    }
    if (*p) ++p;
  } else {
    while (*p && *p != L' ' && *p != L'\t') ++p;
  }
  return p;
}

void AppendRecord(const wchar_t* fileName, const std::wstring& line) {
  CreateDirectoryW(kRecordDir, nullptr);
  Handle file(CreateFileW((std::wstring(kRecordDir) + L"\\" + fileName).c_str(), FILE_APPEND_DATA,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return;
  std::string text = brimo_tools::WideToUtf8(line) + "\n";
  DWORD written = 0;
  WriteFile(file.h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

void RecordError(const std::wstring& what, DWORD error) {
  AppendRecord(L"installer-errors.txt", what + L" error=" + std::to_wstring(error));
}

bool ParseUnsigned(const std::string& text, unsigned long long limit, unsigned long long& value) {
  if (text.empty() || text.size() > 20 || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  unsigned long long parsed = std::strtoull(text.c_str(), nullptr, 10);
  if (parsed > limit) return false;
  value = parsed;
  return true;
}

// The configuration is the last "BRIMO-TEST-CONFIG{...}" in the final bytes of the file, and only counts when
// nothing but blanks follows its closing brace (so the marker text inside the program itself never matches).
Config ReadConfig(const std::wstring& self) {
  Config config;
  Handle file(CreateFileW(self.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size{};
  if (!file.valid() || !GetFileSizeEx(file.h, &size)) return config;
  LARGE_INTEGER start{};
  start.QuadPart = size.QuadPart > kTrailerWindow ? size.QuadPart - kTrailerWindow : 0;
  std::string tail(static_cast<size_t>(size.QuadPart - start.QuadPart), '\0');
  DWORD got = 0;
  if (!SetFilePointerEx(file.h, start, nullptr, FILE_BEGIN) ||
      !ReadFile(file.h, &tail[0], static_cast<DWORD>(tail.size()), &got, nullptr))
    return config;
  tail.resize(got);

  size_t begin = tail.rfind(kConfigMarker);
  if (begin == std::string::npos) return config;
  begin += sizeof(kConfigMarker) - 1;
  size_t end = tail.find('}', begin);
  if (end == std::string::npos || tail.find_first_not_of(" \t\r\n", end + 1) != std::string::npos)
    return config;

  std::string body = tail.substr(begin, end - begin);
  for (size_t pos = 0; pos <= body.size();) {
    size_t next = body.find(';', pos);
    if (next == std::string::npos) next = body.size();
    std::string item = body.substr(pos, next - pos);
    pos = next + 1;
    size_t eq = item.find('=');
    if (eq == std::string::npos) continue;
    std::string key = item.substr(0, eq), value = item.substr(eq + 1);
    unsigned long long number = 0;
    if (key == "exit") {
      ParseUnsigned(value, 0xFFFFFFFFull, config.exitCode);
    } else if (key == "sleep") {
      ParseUnsigned(value, 0xFFFFFFFEull, config.sleepMs);
    } else if (key == "lock-ms") {
      ParseUnsigned(value, 0xFFFFFFFEull, config.lockMs);
    } else if (key == "install" && ParseUnsigned(value, 1, number)) {
      config.install = number == 1;
    } else if (key == "delete-self" && ParseUnsigned(value, 1, number)) {
      config.deleteSelf = number == 1;
    }
  }
  return config;
}

// What the folder the installer runs from is like: its descriptor, and what lies there beside it.
void RecordFolder(const std::wstring& self) {
  const std::wstring folder = self.substr(0, self.find_last_of(L"\\/"));
  const std::wstring name = self.substr(folder.size() + 1);
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  LPWSTR sddl = nullptr;
  std::wstring text = L"?";
  if (GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT,
                            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr,
                            nullptr, &descriptor) == ERROR_SUCCESS &&
      ConvertSecurityDescriptorToStringSecurityDescriptorW(
          descriptor, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &sddl,
          nullptr)) {
    text = sddl;
    LocalFree(sddl);
  }
  if (descriptor) LocalFree(descriptor);
  std::wstring others;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring entry = found.cFileName;
      if (entry == L"." || entry == L".." || _wcsicmp(entry.c_str(), name.c_str()) == 0) continue;
      others += (others.empty() ? L"" : L",") + entry;
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  AppendRecord(L"installer-folder.txt", L"folder sddl=" + text + L" others=[" + others + L"]");
}

void Install(const std::wstring& self) {
  std::wstring programs = Env(L"ProgramW6432");
  if (programs.empty()) programs = Env(L"ProgramFiles");
  std::wstring dir = programs + L"\\Quarn Brimo Beta";
  CreateDirectoryW(dir.c_str(), nullptr);
  if (!CopyFileW(self.c_str(), (dir + L"\\" + kAppFileName).c_str(), FALSE))
    RecordError(L"install", GetLastError());
}

std::wstring HoldEventName(DWORD installerPid) {
  return L"Local\\BrimoTestHold-" + std::to_wstring(installerPid);
}

void RemoveLeftoverCopies() {
  for (const wchar_t* pattern : {L"\\hold-*.exe", L"\\deleted-*.exe"}) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((std::wstring(kRecordDir) + pattern).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) continue;
    do {
      DeleteFileW((std::wstring(kRecordDir) + L"\\" + found.cFileName).c_str());  // fails while still running
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
}

// Starts the holder (see the header comment) and returns once it has the file open.
void StartHolder(const std::wstring& self, unsigned long long lockMs) {
  DWORD pid = GetCurrentProcessId();
  Handle ready(CreateEventW(nullptr, TRUE, FALSE, HoldEventName(pid).c_str()));
  std::wstring copy = std::wstring(kRecordDir) + L"\\hold-" + std::to_wstring(pid) + L".exe";
  CreateDirectoryW(kRecordDir, nullptr);
  if (!ready.valid() || !CopyFileW(self.c_str(), copy.c_str(), FALSE)) {
    RecordError(L"lock-copy", GetLastError());
    return;
  }
  std::wstring cmd =
      L"\"" + copy + L"\" --hold \"" + self + L"\" " + std::to_wstring(lockMs) + L" " + std::to_wstring(pid);
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    RecordError(L"lock-start", GetLastError());
    return;
  }
  Handle process(pi.hProcess), thread(pi.hThread);
  HANDLE waits[] = {ready.h, pi.hProcess};
  if (WaitForMultipleObjects(2, waits, FALSE, 10000) != WAIT_OBJECT_0)
    RecordError(L"lock-wait", GetLastError());
}

int Hold(const std::wstring& path, DWORD lockMs, DWORD installerPid) {
  Handle installer(OpenProcess(SYNCHRONIZE, FALSE, installerPid));
  Handle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) RecordError(L"lock-open", GetLastError());
  Handle ready(OpenEventW(EVENT_MODIFY_STATE, FALSE, HoldEventName(installerPid).c_str()));
  if (ready.valid()) SetEvent(ready.h);
  if (installer.valid()) WaitForSingleObject(installer.h, INFINITE);
  Sleep(lockMs);
  return 0;
}

void DeleteSelf(const std::wstring& self) {
  std::wstring suffix = std::to_wstring(GetCurrentProcessId());
  CreateDirectoryW(kRecordDir, nullptr);
  if (MoveFileExW(self.c_str(), (std::wstring(kRecordDir) + L"\\deleted-" + suffix + L".exe").c_str(),
                  MOVEFILE_REPLACE_EXISTING) ||
      MoveFileExW(self.c_str(), (self + L".deleted-" + suffix).c_str(), MOVEFILE_REPLACE_EXISTING))
    return;
  RecordError(L"delete-self", GetLastError());
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  std::wstring self = SelfPath();
  std::wstring fileName = self.substr(self.find_last_of(L"\\/") + 1);

  if (_wcsicmp(fileName.c_str(), kAppFileName) == 0) {
    AppendRecord(L"app-started.txt", L"started cwd=" + CurrentDir() + L" args=[" + ArgumentTail() + L"]");
    return 0;
  }
  if (__argc == 5 && std::wcscmp(__wargv[1], L"--hold") == 0)
    return Hold(__wargv[2], std::wcstoul(__wargv[3], nullptr, 10), std::wcstoul(__wargv[4], nullptr, 10));

  Config config = ReadConfig(self);
  if (config.sleepMs) Sleep(static_cast<DWORD>(config.sleepMs));
  RemoveLeftoverCopies();
  AppendRecord(L"installer-runs.txt",
               L"run args=[" + ArgumentTail() + L"] cwd=" + CurrentDir() + L" self=" + self);
  RecordFolder(self);
  if (config.install) Install(self);
  if (config.lockMs) StartHolder(self, config.lockMs);
  if (config.deleteSelf) DeleteSelf(self);
  ExitProcess(static_cast<UINT>(config.exitCode));
}
