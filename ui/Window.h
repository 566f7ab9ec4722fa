// A small wrapper around one native top-level window: every message id is routed to one registered
// handler, and painting goes through an off-screen GDI+ buffer to a single paint handler.
#pragma once

#include <windows.h>

#include <gdiplus.h>

#include <cstdint>
#include <functional>
#include <map>

namespace brimo {

struct WinMessage {
  std::uint64_t wParam;
  std::int64_t lParam;
};

class Window;
// Returns true when it handled the message; the default procedure then does not run.
using MessageHandler = std::function<bool(Window&, WinMessage)>;
using PaintHandler = std::function<void(Window&, Gdiplus::Graphics&)>;

// Registers a window class whose procedure is Window::WindowProc.
void RegisterWindowClass(HINSTANCE instance, const wchar_t* className, unsigned iconResource);

class Window {
 public:
  // Creates the hidden WS_POPUP window centred on the primary screen. The class must be registered.
  Window(HINSTANCE instance, int width, int height, const wchar_t* className, const wchar_t* title);
  ~Window();
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  void AddHandler(std::uint32_t message, MessageHandler handler);
  void SetPaintHandler(PaintHandler handler);
  // Applies a rounded-rectangle region over the whole window, with redraw.
  void RoundCorners(int ellipseWidth, int ellipseHeight);
  // Unbinds and destroys the native window, then releases the paint handler and the handlers.
  void TearDown();

  HWND handle() const { return hwnd_; }
  DWORD ownerThreadId() const { return ownerThreadId_; }
  int width() const { return width_; }
  int height() const { return height_; }

  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

 private:
  void Paint();

  HINSTANCE instance_;
  HWND hwnd_ = nullptr;
  DWORD ownerThreadId_;
  int width_;
  int height_;
  HRGN region_ = nullptr;
  std::map<std::uint32_t, MessageHandler> handlers_;
  PaintHandler paintHandler_;
};

}  // namespace brimo
