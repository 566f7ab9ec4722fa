#include <gtest/gtest.h>

#include "GdiplusTestEnvironment_win.h"
#include "app/Startup.h"
#include "platform/Product.h"
#include "ui/Window.h"

namespace brimo {
namespace {

constexpr wchar_t kTestClass[] = L"BrimoWindowTest";

class WindowTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { RegisterWindowClass(GetModuleHandleW(nullptr), kTestClass, kIconResource); }
  Window window{GetModuleHandleW(nullptr), kWindowWidth, kWindowHeight, kTestClass, kProductTitle};
};

TEST_F(WindowTest, IsAHiddenCentredPopupBoundToTheObject) {
  HWND hwnd = window.handle();
  ASSERT_NE(hwnd, nullptr);
  EXPECT_EQ(GetWindowLongW(hwnd, GWL_STYLE) & ~WS_CLIPSIBLINGS, static_cast<LONG>(WS_POPUP));
  EXPECT_EQ(GetWindowLongW(hwnd, GWL_EXSTYLE), 0);
  EXPECT_FALSE(IsWindowVisible(hwnd));
  RECT rect{};
  GetWindowRect(hwnd, &rect);
  EXPECT_EQ(rect.left, GetSystemMetrics(SM_CXSCREEN) / 2 - 180);
  EXPECT_EQ(rect.top, GetSystemMetrics(SM_CYSCREEN) / 2 - 125);
  EXPECT_EQ(rect.right - rect.left, 360);
  EXPECT_EQ(rect.bottom - rect.top, 250);
  EXPECT_EQ(GetWindowLongPtrW(hwnd, GWLP_USERDATA), reinterpret_cast<LONG_PTR>(&window));
  EXPECT_EQ(window.ownerThreadId(), GetCurrentThreadId());
}

TEST_F(WindowTest, HandlersDecideWhetherTheDefaultProcedureRuns) {
  HWND hwnd = window.handle();
  const LRESULT titleLength = static_cast<LRESULT>(wcslen(kProductTitle));
  EXPECT_EQ(SendMessageW(hwnd, WM_GETTEXTLENGTH, 0, 0), titleLength);

  int firstCalls = 0;
  window.AddHandler(WM_GETTEXTLENGTH, [&](Window&, WinMessage) {
    ++firstCalls;
    return true;
  });
  EXPECT_EQ(SendMessageW(hwnd, WM_GETTEXTLENGTH, 0, 0), 0);
  EXPECT_EQ(firstCalls, 1);

  WinMessage seen{};
  window.AddHandler(WM_GETTEXTLENGTH, [&](Window& self, WinMessage message) {
    EXPECT_EQ(&self, &window);
    seen = message;
    return false;
  });
  EXPECT_EQ(SendMessageW(hwnd, WM_GETTEXTLENGTH, 7, -9), titleLength);
  EXPECT_EQ(firstCalls, 1);
  EXPECT_EQ(seen.wParam, 7u);
  EXPECT_EQ(seen.lParam, -9);
}

TEST_F(WindowTest, PaintGoesToTheDefaultProcedureUntilAPaintHandlerIsSet) {
  ShowWindow(window.handle(), SW_SHOWNORMAL);
  UpdateWindow(window.handle());
  int paints = 0;
  Gdiplus::Rect clip;
  window.SetPaintHandler([&](Window& self, Gdiplus::Graphics& graphics) {
    ++paints;
    EXPECT_EQ(self.width(), 360);
    graphics.GetVisibleClipBounds(&clip);
  });
  // Only a corner is invalid, yet the back buffer covers the whole window.
  RECT corner{0, 0, 10, 10};
  InvalidateRect(window.handle(), &corner, FALSE);
  UpdateWindow(window.handle());
  EXPECT_EQ(paints, 1);
  EXPECT_EQ(clip.Width, 360);
  EXPECT_EQ(clip.Height, 250);
}

TEST_F(WindowTest, RoundCornersAppliesTheRoundedRegion) {
  window.RoundCorners(kCornerEllipse, kCornerEllipse);
  HRGN probe = CreateRectRgn(0, 0, 0, 0);
  EXPECT_EQ(GetWindowRgn(window.handle(), probe), COMPLEXREGION);
  EXPECT_FALSE(PtInRegion(probe, 0, 0));
  EXPECT_TRUE(PtInRegion(probe, 2, 2));
  EXPECT_TRUE(PtInRegion(probe, 180, 0));
  DeleteObject(probe);
}

TEST_F(WindowTest, TearDownUnbindsBeforeDestroyingSoNoHandlerSeesTheDestruction) {
  bool destroySeen = false;
  window.AddHandler(WM_DESTROY, [&](Window&, WinMessage) {
    destroySeen = true;
    return false;
  });
  HWND hwnd = window.handle();
  window.TearDown();
  EXPECT_FALSE(IsWindow(hwnd));
  EXPECT_FALSE(destroySeen);
  EXPECT_EQ(window.handle(), nullptr);
}

}  // namespace
}  // namespace brimo
