#include <gtest/gtest.h>

#include "LogCapture.h"
#include "ui/AnimatedImage.h"

namespace brimo {
namespace {

constexpr Gdiplus::ARGB kTrack = 0xFFE8EBED;
constexpr Gdiplus::ARGB kFill = 0xFF51007A;

AnimatedImage LoadBar(unsigned id) {
  AnimatedImage bar{LoadResourceImage(L"GIF", id)};
  TryLoadAnimation(bar);
  return bar;
}

// The colour of one pixel of the bar's active frame, drawn the way the splash view draws it.
Gdiplus::ARGB PixelOf(AnimatedImage& bar, int x, int y) {
  Gdiplus::Bitmap canvas(240, 24, PixelFormat32bppARGB);
  {
    Gdiplus::Graphics graphics(&canvas);
    graphics.DrawImage(bar.image.get(), 0, 0);
  }
  Gdiplus::Color color;
  canvas.GetPixel(x, y, &color);
  return color.GetValue();
}

TEST(AnimatedImage, BothBarsDecodeToHundredFramesQuietly) {
  test::LogCapture capture;
  for (unsigned id : {103u, 104u}) {
    AnimatedImage bar = LoadBar(id);
    ASSERT_TRUE(bar.image) << id;
    EXPECT_EQ(bar.frameCount, 100u) << id;
    EXPECT_EQ(bar.currentFrame, 0u);
    EXPECT_EQ(bar.image->GetWidth(), 240u);
    EXPECT_EQ(bar.image->GetHeight(), 24u);
  }
  EXPECT_TRUE(capture.strings().empty());
}

TEST(AnimatedImage, ALogoIsNotAnimatedAndAMissingResourceIsNoImage) {
  test::LogCapture capture;
  AnimatedImage logo{LoadResourceImage(L"PNG", 107)};
  ASSERT_TRUE(logo.image);
  EXPECT_EQ(logo.image->GetWidth(), 174u);
  EXPECT_EQ(logo.image->GetHeight(), 20u);
  TryLoadAnimation(logo);
  EXPECT_EQ(logo.frameCount, 1u);

  AnimatedImage missing{LoadResourceImage(L"GIF", 999)};
  EXPECT_FALSE(missing.image);
  TryLoadAnimation(missing);
  EXPECT_EQ(missing.frameCount, 0u);

  EXPECT_EQ(capture.strings(),
            (std::vector<std::wstring>{test::ErrorLine(L"TryLoadAnimation: image not animated"),
                                       test::ErrorLine(L"TryLoadAnimation: no image!")}));
}

TEST(AnimatedImage, DownloadBarFramesFillFromTheLeft) {
  AnimatedImage bar = LoadBar(103);
  EXPECT_EQ(PixelOf(bar, 0, 12), kTrack);
  SelectFrame(bar, 50);
  EXPECT_EQ(bar.currentFrame, 50u);
  EXPECT_EQ(PixelOf(bar, 0, 0), kFill);
  EXPECT_EQ(PixelOf(bar, 118, 23), kFill);  // about 2.42 x 50 columns are filled
  EXPECT_EQ(PixelOf(bar, 124, 12), kTrack);
  SelectFrame(bar, 99);
  EXPECT_EQ(PixelOf(bar, 239, 12), kFill);
}

TEST(AnimatedImage, BusyBarEndsOnTheEmptyTrack) {
  AnimatedImage bar = LoadBar(104);
  SelectFrame(bar, 50);
  int purple = 0;
  for (int x = 0; x < 240; ++x) purple += PixelOf(bar, x, 12) == kFill;
  EXPECT_EQ(purple, 48);
  SelectFrame(bar, 99);
  for (int x = 0; x < 240; x += 7) EXPECT_EQ(PixelOf(bar, x, 12), kTrack) << x;
}

}  // namespace
}  // namespace brimo
