// brimo-bare-window: the smallest comparable Win32 window, a baseline for benchmarks of the splash window.
// A WS_POPUP 360 x 250 window of class "BrimoBareWindow", centred on the screen, with a 100 ms timer
// (id 4919) whose handler does nothing. Releasing Escape or closing the window ends it with exit code 2.
//
// Build: x86_64-w64-mingw32-g++-posix -std=c++17 -O2 -Wall -Wextra -municode -mwindows -static -static-libgcc
//        -static-libstdc++ -o brimo-bare-window.exe tools/bare_window_win.cpp
#include <windows.h>

namespace {

constexpr wchar_t kClassName[] = L"BrimoBareWindow";
constexpr int kWidth = 360;
constexpr int kHeight = 250;
constexpr UINT_PTR kTimerId = 4919;
constexpr UINT kTimerMs = 100;
constexpr int kExitCode = 2;

LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_TIMER:
      if (wParam == kTimerId) return 0;
      break;
    case WM_KEYUP:
      if (wParam != VK_ESCAPE) break;
      PostQuitMessage(kExitCode);
      return 0;
    case WM_CLOSE:
      PostQuitMessage(kExitCode);
      return 0;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = kClassName;
  RegisterClassExW(&wc);

  int x = (GetSystemMetrics(SM_CXSCREEN) - kWidth) / 2;
  int y = (GetSystemMetrics(SM_CYSCREEN) - kHeight) / 2;
  HWND hwnd = CreateWindowExW(0, kClassName, L"", WS_POPUP, x, y, kWidth, kHeight, nullptr, nullptr, instance,
                              nullptr);
  if (!hwnd) return 1;
  ShowWindow(hwnd, SW_SHOW);
  UpdateWindow(hwnd);
  SetTimer(hwnd, kTimerId, kTimerMs, nullptr);

  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  KillTimer(hwnd, kTimerId);
  DestroyWindow(hwnd);
  return static_cast<int>(msg.wParam);
}
