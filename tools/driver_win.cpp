// brimo-driver: drives the installer's splash window and its message boxes from outside, through window
// messages only, and reports what it sees as key=value lines (UTF-8, LF line ends).
//
// Build: x86_64-w64-mingw32-g++-posix -std=c++17 -O2 -Wall -Wextra -municode -static -static-libgcc
//        -static-libstdc++ -o brimo-driver.exe tools/driver_win.cpp -lgdi32
//
// Usage: brimo-driver.exe COMMAND [OPTIONS]
//   find [--timeout MS] [--visible]   hwnd=0x.. pid=N style=0x%08X exstyle=0x%08X visible=0|1 x= y= w= h=
//                                     screen_w= screen_h= region=<type> rgn_l= rgn_t= rgn_r= rgn_b=
//                                     title=<text>
//   region-rows                       region=<type> corner_tl=rrrr/rrrr/rrrr/rrrr corner_br=...
//                                     (4 rows top to bottom, 1 = pixel inside the window region)
//   key VK | keydown VK | close | command N | timer ID                 posted=1
//     with --sync: sent instead, returns once the window procedure has handled it    handled=1
//   sync                              handled=1 once the window's thread answers a WM_NULL (a round
//                                     trip: it fails when the thread has left its message loop)
//   boxes [--timeout MS] [--dismiss] [--count N]   BOX caption=<text> text=<text>   (one line per box)
//   wait-gone [--timeout MS]          gone=1
//   screen                            screen_w=N screen_h=N
// Commands that wait for the window take --timeout (default 10000 ms), --visible and --class NAME (default
// BrimoSwiftlaneSetup, e.g. BrimoBareWindow for the benchmark baseline). Exit code: 0 success,
// 1 not found / timed out (a line found=N or gone=0 is printed), 2 usage error. Texts are escaped as
// described in text_escape.h.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cwchar>
#include <set>
#include <string>
#include <vector>

#include "text_escape.h"

namespace {

constexpr DWORD kPollMs = 20;
constexpr DWORD kDismissWaitMs = 5000;
constexpr UINT kGetTextTimeoutMs = 2000;

struct Options {
  std::wstring command;
  std::vector<std::wstring> positional;
  long long timeoutMs = -1;  // -1: the command's default
  bool visible = false;
  bool dismiss = false;
  bool sync = false;
  long long count = 0;
  std::wstring windowClass = L"BrimoSwiftlaneSetup";
};

struct Region {
  HRGN handle = CreateRectRgn(0, 0, 0, 0);
  ~Region() { DeleteObject(handle); }
};

void Print(const std::string& line) {
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

bool ParseNumber(const std::wstring& text, long long& value) {
  if (text.empty()) return false;
  wchar_t* end = nullptr;
  value = std::wcstoll(text.c_str(), &end, 0);
  return *end == L'\0' && value >= 0;
}

bool ParseOptions(int argc, wchar_t** argv, Options& options) {
  if (argc < 2) return false;
  options.command = argv[1];
  for (int i = 2; i < argc; ++i) {
    std::wstring arg = argv[i];
    if (arg == L"--visible") {
      options.visible = true;
    } else if (arg == L"--dismiss") {
      options.dismiss = true;
    } else if (arg == L"--sync") {
      options.sync = true;
    } else if (arg == L"--class") {
      if (i + 1 >= argc) return false;
      options.windowClass = argv[++i];
    } else if (arg == L"--timeout" || arg == L"--count") {
      if (i + 1 >= argc) return false;
      if (!ParseNumber(argv[++i], arg == L"--timeout" ? options.timeoutMs : options.count)) return false;
    } else if (arg.rfind(L"--", 0) == 0) {
      return false;
    } else {
      options.positional.push_back(arg);
    }
  }
  return true;
}

std::wstring ClassOf(HWND hwnd) {
  wchar_t name[256] = {};
  GetClassNameW(hwnd, name, 256);
  return name;
}

// Window text as stored by the window manager; does not need the owning thread to respond.
std::wstring TitleOf(HWND hwnd) {
  int length = GetWindowTextLengthW(hwnd);
  std::wstring text(length + 1, L'\0');
  text.resize(GetWindowTextW(hwnd, &text[0], length + 1));
  return text;
}

// Control text asked from the owning thread (a message box's thread answers while it shows the box).
std::wstring ControlTextOf(HWND hwnd) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kGetTextTimeoutMs, &length))
    return TitleOf(hwnd);
  std::wstring text(length + 1, L'\0');
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutW(hwnd, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(&text[0]), SMTO_ABORTIFHUNG,
                           kGetTextTimeoutMs, &copied))
    return TitleOf(hwnd);
  text.resize(copied);
  return text;
}

HWND FindTarget(const std::wstring& windowClass, DWORD timeoutMs, bool visible) {
  ULONGLONG deadline = GetTickCount64() + timeoutMs;
  for (;;) {
    HWND hwnd = FindWindowW(windowClass.c_str(), nullptr);
    if (hwnd && (!visible || IsWindowVisible(hwnd))) return hwnd;
    if (GetTickCount64() >= deadline) return nullptr;
    Sleep(kPollMs);
  }
}

const char* RegionTypeName(int type) {
  switch (type) {
    case NULLREGION:
      return "NULLREGION";
    case SIMPLEREGION:
      return "SIMPLEREGION";
    case COMPLEXREGION:
      return "COMPLEXREGION";
    default:
      return "ERROR";
  }
}

// Fills `region` with the window's region (window coordinates); returns its type name, or NONE when the
// window has no region.
std::string ReadRegion(HWND hwnd, Region& region, RECT& box) {
  box = RECT{};
  if (GetWindowRgn(hwnd, region.handle) == ERROR) return "NONE";
  return RegionTypeName(GetRgnBox(region.handle, &box));
}

std::string Screen() {
  return "screen_w=" + std::to_string(GetSystemMetrics(SM_CXSCREEN)) +
         " screen_h=" + std::to_string(GetSystemMetrics(SM_CYSCREEN));
}

void PrintWindowInfo(HWND hwnd) {
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  RECT rc{};
  GetWindowRect(hwnd, &rc);
  Region region;
  RECT box;
  std::string type = ReadRegion(hwnd, region, box);
  char line[512];
  std::snprintf(line, sizeof(line),
                "hwnd=0x%llX pid=%lu style=0x%08lX exstyle=0x%08lX visible=%d x=%ld y=%ld w=%ld h=%ld %s "
                "region=%s rgn_l=%ld rgn_t=%ld rgn_r=%ld rgn_b=%ld title=",
                static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(hwnd)), pid,
                static_cast<unsigned long>(GetWindowLongPtrW(hwnd, GWL_STYLE)),
                static_cast<unsigned long>(GetWindowLongPtrW(hwnd, GWL_EXSTYLE)),
                IsWindowVisible(hwnd) ? 1 : 0, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top,
                Screen().c_str(), type.c_str(), box.left, box.top, box.right, box.bottom);
  Print(line + brimo_tools::EscapeLine(TitleOf(hwnd)));
}

std::string CornerRows(const Region& region, bool hasRegion, int left, int top) {
  std::string rows;
  for (int y = top; y < top + 4; ++y) {
    if (y > top) rows += '/';
    for (int x = left; x < left + 4; ++x) rows += (!hasRegion || PtInRegion(region.handle, x, y)) ? '1' : '0';
  }
  return rows;
}

void PrintRegionRows(HWND hwnd) {
  RECT rc{};
  GetWindowRect(hwnd, &rc);
  Region region;
  RECT box;
  std::string type = ReadRegion(hwnd, region, box);
  bool hasRegion = type != "NONE";
  int w = rc.right - rc.left, h = rc.bottom - rc.top;
  Print("region=" + type + " corner_tl=" + CornerRows(region, hasRegion, 0, 0) +
        " corner_br=" + CornerRows(region, hasRegion, w - 4, h - 4));
}

BOOL CALLBACK CollectBox(HWND hwnd, LPARAM param) {
  if (IsWindowVisible(hwnd) && ClassOf(hwnd) == L"#32770")
    reinterpret_cast<std::vector<HWND>*>(param)->push_back(hwnd);
  return TRUE;
}

BOOL CALLBACK CollectChild(HWND hwnd, LPARAM param) {
  reinterpret_cast<std::vector<HWND>*>(param)->push_back(hwnd);
  return TRUE;
}

// The message text is the static control with id 0xFFFF; otherwise the first static control with text.
std::wstring BoxText(HWND box) {
  std::vector<HWND> children;
  EnumChildWindows(box, CollectChild, reinterpret_cast<LPARAM>(&children));
  for (HWND child : children) {
    if ((GetDlgCtrlID(child) & 0xFFFF) == 0xFFFF) return ControlTextOf(child);
  }
  for (HWND child : children) {
    if (_wcsicmp(ClassOf(child).c_str(), L"Static") != 0) continue;
    std::wstring text = ControlTextOf(child);
    if (!text.empty()) return text;
  }
  return std::wstring();
}

bool DismissBox(HWND box) {
  HWND ok = GetDlgItem(box, IDOK);
  PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(ok));
  ULONGLONG deadline = GetTickCount64() + kDismissWaitMs;
  while (IsWindow(box) && IsWindowVisible(box)) {
    if (GetTickCount64() >= deadline) return false;
    Sleep(kPollMs);
  }
  return true;
}

int Boxes(const Options& options) {
  ULONGLONG wanted = options.count > 0 ? options.count : 1;
  // Waiting for several boxes one after another only makes sense with some time to wait.
  DWORD timeoutMs = static_cast<DWORD>(options.timeoutMs >= 0 ? options.timeoutMs
                                       : options.count > 0    ? 10000
                                                              : 0);
  ULONGLONG deadline = GetTickCount64() + timeoutMs;
  std::set<HWND> seen;
  for (;;) {
    std::vector<HWND> boxes;
    EnumWindows(CollectBox, reinterpret_cast<LPARAM>(&boxes));
    for (HWND box : boxes) {
      if (!seen.insert(box).second) continue;
      Print("BOX caption=" + brimo_tools::EscapeLine(TitleOf(box)) +
            " text=" + brimo_tools::EscapeLine(BoxText(box)));
      if (options.dismiss && !DismissBox(box)) {
        Print("dismissed=0");
        return 1;
      }
    }
    if (seen.size() >= wanted) return 0;
    if (GetTickCount64() >= deadline) {
      Print("found=" + std::to_string(seen.size()));
      return 1;
    }
    Sleep(kPollMs);
  }
}

int WaitGone(const std::wstring& windowClass, DWORD timeoutMs) {
  ULONGLONG deadline = GetTickCount64() + timeoutMs;
  while (FindWindowW(windowClass.c_str(), nullptr)) {
    if (GetTickCount64() >= deadline) {
      Print("gone=0");
      return 1;
    }
    Sleep(kPollMs);
  }
  Print("gone=1");
  return 0;
}

// Tries to open a file the way another program might: for writing, or for deletion. Prints the
// result as error=<last error> (0: it could be opened).
int TryOpen(const std::wstring& path, const std::wstring& purpose) {
  const DWORD access = purpose == L"write" ? GENERIC_WRITE : DELETE;
  HANDLE file = CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  const DWORD error = file == INVALID_HANDLE_VALUE ? GetLastError() : 0;
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  Print("error=" + std::to_string(error));
  return 0;
}

int Usage() {
  std::fputs(
      "usage: brimo-driver find|region-rows|close|wait-gone|screen [--timeout MS] [--visible] [--class "
      "NAME]\n"
      "       brimo-driver key|keydown|command|timer NUMBER [--timeout MS] [--visible] [--class NAME]\n"
      "       brimo-driver boxes [--timeout MS] [--dismiss] [--count N]\n"
      "       brimo-driver open-file write|delete PATH\n",
      stderr);
  return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  Options options;
  if (!ParseOptions(argc, argv, options)) return Usage();
  const std::wstring& cmd = options.command;
  DWORD timeoutMs = static_cast<DWORD>(options.timeoutMs >= 0 ? options.timeoutMs : 10000);

  if (cmd == L"screen") {
    Print(Screen());
    return 0;
  }
  if (cmd == L"open-file")
    return options.positional.size() == 2 ? TryOpen(options.positional[1], options.positional[0]) : Usage();
  if (cmd == L"boxes") return options.positional.empty() ? Boxes(options) : Usage();
  if (cmd == L"wait-gone")
    return options.positional.empty() ? WaitGone(options.windowClass, timeoutMs) : Usage();

  bool takesNumber = cmd == L"key" || cmd == L"keydown" || cmd == L"command" || cmd == L"timer";
  bool takesNothing = cmd == L"find" || cmd == L"region-rows" || cmd == L"close" || cmd == L"sync";
  long long number = 0;
  if (takesNumber ? (options.positional.size() != 1 || !ParseNumber(options.positional[0], number))
                  : (!takesNothing || !options.positional.empty()))
    return Usage();

  HWND hwnd = FindTarget(options.windowClass, timeoutMs, options.visible);
  if (!hwnd) {
    Print("found=0");
    return 1;
  }
  if (cmd == L"find") {
    PrintWindowInfo(hwnd);
    return 0;
  }
  if (cmd == L"region-rows") {
    PrintRegionRows(hwnd);
    return 0;
  }
  UINT message = cmd == L"key"       ? WM_KEYUP
                 : cmd == L"keydown" ? WM_KEYDOWN
                 : cmd == L"command" ? WM_COMMAND
                 : cmd == L"timer"   ? WM_TIMER
                 : cmd == L"sync"    ? WM_NULL
                                     : WM_CLOSE;
  LPARAM lParam = message == WM_KEYUP ? 0xC0000001 : message == WM_KEYDOWN ? 0x00000001 : 0;
  if (options.sync || message == WM_NULL) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(hwnd, message, static_cast<WPARAM>(number), lParam, SMTO_ABORTIFHUNG, timeoutMs,
                             &result)) {
      Print("handled=0 error=" + std::to_string(GetLastError()));
      return 1;
    }
    Print("handled=1");
    return 0;
  }
  if (!PostMessageW(hwnd, message, static_cast<WPARAM>(number), lParam)) {
    Print("posted=0 error=" + std::to_string(GetLastError()));
    return 1;
  }
  Print("posted=1");
  return 0;
}
