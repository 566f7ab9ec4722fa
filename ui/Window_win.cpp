#include "platform/UniqueAny_win.h"
#include "ui/Window.h"

namespace brimo {

void RegisterWindowClass(HINSTANCE instance, const wchar_t* className, unsigned iconResource) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.style = 0;
  wc.lpfnWndProc = &Window::WindowProc;
  wc.hInstance = instance;
  wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(iconResource));
  wc.hIconSm = wc.hIcon;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
  wc.lpszClassName = className;
  RegisterClassExW(&wc);
}

Window::Window(HINSTANCE instance, int width, int height, const wchar_t* className, const wchar_t* title)
    : instance_(instance), ownerThreadId_(GetCurrentThreadId()), width_(width), height_(height) {
  const int x = GetSystemMetrics(SM_CXSCREEN) / 2 - width / 2;
  const int y = GetSystemMetrics(SM_CYSCREEN) / 2 - height / 2;
  hwnd_ =
      CreateWindowExW(0, className, title, WS_POPUP, x, y, width, height, nullptr, nullptr, instance_, this);
  if (hwnd_) SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

Window::~Window() { TearDown(); }

void Window::AddHandler(std::uint32_t message, MessageHandler handler) {
  handlers_[message] = std::move(handler);
}

void Window::SetPaintHandler(PaintHandler handler) { paintHandler_ = std::move(handler); }

void Window::RoundCorners(int ellipseWidth, int ellipseHeight) {
  region_ = CreateRoundRectRgn(0, 0, width_, height_, ellipseWidth, ellipseHeight);
  // Once applied, the region belongs to the system.
  SetWindowRgn(hwnd_, region_, TRUE);
}

void Window::TearDown() {
  if (hwnd_) {
    // Messages sent while the window is destroyed must reach only the default procedure.
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    DestroyWindow(hwnd_);
    hwnd_ = nullptr;
  }
  region_ = nullptr;
  paintHandler_ = nullptr;
  handlers_.clear();
}

LRESULT CALLBACK Window::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!self) return DefWindowProcW(hwnd, message, wParam, lParam);
  return self->HandleMessage(message, wParam, lParam);
}

LRESULT Window::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  const auto entry = handlers_.find(message);
  if (entry != handlers_.end() &&
      entry->second(*this, WinMessage{static_cast<std::uint64_t>(wParam), static_cast<std::int64_t>(lParam)}))
    return 0;
  if (message == WM_PAINT && paintHandler_) {
    Paint();
    return 0;
  }
  return DefWindowProcW(hwnd_, message, wParam, lParam);
}

void Window::Paint() {
  // Each frame is composed off-screen over the whole window and copied in one blit, so repaints
  // do not flicker. The owners release in reverse order: graphics, selection, bitmap, DC, paint.
  UniquePaintDc paint = BeginPaintScoped(hwnd_);
  const HDC screen = paint.get().dc;
  UniqueMemoryDc memory(CreateCompatibleDC(screen));
  UniqueGdiObject bitmap(CreateCompatibleBitmap(screen, width_, height_));
  UniqueSelection selection = SelectScoped(memory.get(), bitmap.get());
  Gdiplus::Graphics graphics(memory.get());
  paintHandler_(*this, graphics);
  BitBlt(screen, 0, 0, width_, height_, memory.get(), 0, 0, SRCCOPY);
}

}  // namespace brimo
