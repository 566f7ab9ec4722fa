// brimo-dbgcapture: runs a program under the debugger API and records every debugger output string it
// emits.
//
// Build: x86_64-w64-mingw32-g++-posix -std=c++17 -O2 -Wall -Wextra -municode -static -static-libgcc
//        -static-libstdc++ -o brimo-dbgcapture.exe tools/debug_capture_win.cpp
//
// Usage: brimo-dbgcapture.exe [--out FILE] PROGRAM [ARGS...]
// Output, one line per event, LF line ends, UTF-8:
//   ODS <escaped text>      one debugger output string (escaping: see text_escape.h)
//   EXIT <code>             the program's exit code, unsigned decimal; the tool exits with the same code
//   CAPTURE-ERROR <error>   the program (or FILE) could not be opened/started; the tool exits with 250
// Lines go to FILE when --out is given (readable while the program runs), else to standard output.
#include <windows.h>

#include <cstdio>
#include <string>

#include "text_escape.h"

namespace {

constexpr int kCaptureErrorExit = 250;

struct Sink {
  HANDLE handle = GetStdHandle(STD_OUTPUT_HANDLE);
  bool owned = false;
  ~Sink() {
    if (owned) CloseHandle(handle);
  }
  // One WriteFile per line: the file has no user-space buffer, so each line is visible to readers at once.
  void Line(const std::string& text) {
    std::string line = text + "\n";
    DWORD written = 0;
    WriteFile(handle, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  }
};

// Appends one argument quoted so that the Microsoft C runtime parses it back unchanged.
void AppendQuoted(std::wstring& cmd, const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    cmd += arg;
    return;
  }
  cmd += L'"';
  for (auto it = arg.begin();; ++it) {
    size_t backslashes = 0;
    while (it != arg.end() && *it == L'\\') {
      ++it;
      ++backslashes;
    }
    if (it == arg.end()) {
      cmd.append(backslashes * 2, L'\\');
      break;
    }
    if (*it == L'"') {
      cmd.append(backslashes * 2 + 1, L'\\');
    } else {
      cmd.append(backslashes, L'\\');
    }
    cmd += *it;
  }
  cmd += L'"';
}

// Reads a null-terminated string of `unit`-byte characters from the debuggee, page by page, so that the
// 16-bit length in the debug event does not limit it.
std::string ReadRemote(HANDLE process, const void* address, size_t unit) {
  constexpr size_t kPage = 4096, kMax = 1 << 20;
  std::string bytes;
  auto at = reinterpret_cast<uintptr_t>(address);
  while (bytes.size() < kMax) {
    char chunk[kPage];
    size_t want = kPage - (at % kPage);
    SIZE_T got = 0;
    if (!ReadProcessMemory(process, reinterpret_cast<const void*>(at), chunk, want, &got) || got == 0) break;
    size_t start = bytes.size();
    bytes.append(chunk, got);
    at += got;
    for (size_t i = start - start % unit; i + unit <= bytes.size(); i += unit) {
      if (bytes.compare(i, unit, std::string(unit, '\0')) == 0) return bytes.substr(0, i);
    }
  }
  return bytes.substr(0, bytes.size() - bytes.size() % unit);
}

std::string DebugStringText(HANDLE process, const OUTPUT_DEBUG_STRING_INFO& info) {
  if (info.fUnicode) {
    std::string raw = ReadRemote(process, info.lpDebugStringData, sizeof(wchar_t));
    return brimo_tools::WideToUtf8(
        std::wstring(reinterpret_cast<const wchar_t*>(raw.data()), raw.size() / sizeof(wchar_t)));
  }
  std::string raw = ReadRemote(process, info.lpDebugStringData, 1);
  if (raw.empty()) return raw;
  int size = MultiByteToWideChar(CP_ACP, 0, raw.data(), static_cast<int>(raw.size()), nullptr, 0);
  std::wstring wide(size > 0 ? size : 0, L'\0');
  if (size > 0) MultiByteToWideChar(CP_ACP, 0, raw.data(), static_cast<int>(raw.size()), &wide[0], size);
  return brimo_tools::WideToUtf8(wide);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  int first = 1;
  Sink sink;
  if (argc >= 3 && std::wstring(argv[1]) == L"--out") {
    sink.handle = CreateFileW(argv[2], GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (sink.handle == INVALID_HANDLE_VALUE) {
      DWORD error = GetLastError();
      sink.handle = GetStdHandle(STD_OUTPUT_HANDLE);
      sink.Line("CAPTURE-ERROR " + std::to_string(error));
      return kCaptureErrorExit;
    }
    sink.owned = true;
    first = 3;
  }
  if (first >= argc) {
    std::fprintf(stderr, "usage: brimo-dbgcapture [--out FILE] PROGRAM [ARGS...]\n");
    return 2;
  }

  std::wstring cmd;
  for (int i = first; i < argc; ++i) {
    if (i > first) cmd += L' ';
    AppendQuoted(cmd, argv[i]);
  }
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, DEBUG_ONLY_THIS_PROCESS, nullptr, nullptr,
                      &si, &pi)) {
    sink.Line("CAPTURE-ERROR " + std::to_string(GetLastError()));
    return kCaptureErrorExit;
  }

  // WaitForDebugEventEx (Windows 10 and later) reports OutputDebugStringW text as UTF-16; the older call
  // hands over the ANSI conversion, which loses characters outside the ANSI code page. Wine 8 lacks the
  // newer call and converts OutputDebugStringW text to ANSI itself.
  using WaitFn = BOOL(WINAPI*)(LPDEBUG_EVENT, DWORD);
  auto waitForEvent = reinterpret_cast<WaitFn>(
      reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "WaitForDebugEventEx")));
  if (!waitForEvent) waitForEvent = WaitForDebugEvent;

  bool initialBreakpointSeen = false;
  DWORD exitCode = 0;
  for (bool running = true; running;) {
    DEBUG_EVENT ev{};
    if (!waitForEvent(&ev, INFINITE)) {
      sink.Line("CAPTURE-ERROR " + std::to_string(GetLastError()));
      TerminateProcess(pi.hProcess, kCaptureErrorExit);
      return kCaptureErrorExit;
    }
    DWORD status = DBG_CONTINUE;
    switch (ev.dwDebugEventCode) {
      case CREATE_PROCESS_DEBUG_EVENT:
        if (ev.u.CreateProcessInfo.hFile) CloseHandle(ev.u.CreateProcessInfo.hFile);
        break;
      case LOAD_DLL_DEBUG_EVENT:
        if (ev.u.LoadDll.hFile) CloseHandle(ev.u.LoadDll.hFile);
        break;
      case OUTPUT_DEBUG_STRING_EVENT:
        sink.Line("ODS " + brimo_tools::EscapeLine(DebugStringText(pi.hProcess, ev.u.DebugString)));
        break;
      case EXCEPTION_DEBUG_EVENT:
        // The loader's breakpoint at start-up is ours; every other exception goes back to the program, and
        // an unhandled one ends it with an exit event.
        if (!initialBreakpointSeen && ev.u.Exception.ExceptionRecord.ExceptionCode == EXCEPTION_BREAKPOINT) {
          initialBreakpointSeen = true;
        } else {
          status = DBG_EXCEPTION_NOT_HANDLED;
        }
        break;
      case EXIT_PROCESS_DEBUG_EVENT:
        exitCode = ev.u.ExitProcess.dwExitCode;
        running = false;
        break;
      default:
        break;
    }
    ContinueDebugEvent(ev.dwProcessId, ev.dwThreadId, status);
  }
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  sink.Line("EXIT " + std::to_string(exitCode));
  return static_cast<int>(exitCode);
}
