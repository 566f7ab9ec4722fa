#include <memory>

#include "ui/SplashTimer.h"
#include "ui/SplashView.h"

namespace brimo {

namespace {
constexpr int kCentreX = 180;
constexpr int kLogoTop = 76;
constexpr int kLogoToBarGap = 24;
constexpr int kTextBelowBar = 32;
constexpr int kRateRightEdge = 240;
constexpr Gdiplus::ARGB kBackground = 0xFFFFFFFF;
constexpr Gdiplus::ARGB kBorder = 0xFFE5E4E7;
constexpr Gdiplus::ARGB kText = 0xFF373750;
constexpr wchar_t kFontFamily[] = L"Segoe UI";
constexpr Gdiplus::REAL kFontSize = 13;
constexpr wchar_t kDownloadingText[] = L"Downloading...";
constexpr wchar_t kInstallingText[] = L"Installing...";

BarFrames FramesOf(const AnimatedImage& bar) {
  return BarFrames{bar.image != nullptr, bar.frameCount, bar.currentFrame};
}

// "Segoe UI", else the generic sans-serif family; if the font cannot be made from the family chosen,
// once more from the generic sans-serif family.
std::unique_ptr<Gdiplus::Font> MakeFont() {
  std::unique_ptr<Gdiplus::Font> font;
  {
    Gdiplus::FontFamily family(kFontFamily);
    const Gdiplus::FontFamily* chosen =
        family.GetLastStatus() == Gdiplus::Ok ? &family : Gdiplus::FontFamily::GenericSansSerif();
    font = std::make_unique<Gdiplus::Font>(chosen, kFontSize, Gdiplus::FontStyleRegular, Gdiplus::UnitPixel);
  }
  if (font->GetLastStatus() != Gdiplus::Ok)
    font = std::make_unique<Gdiplus::Font>(Gdiplus::FontFamily::GenericSansSerif(), kFontSize,
                                           Gdiplus::FontStyleRegular, Gdiplus::UnitPixel);
  return font;
}
}  // namespace

SplashLayout ComputeSplashLayout(const Gdiplus::Image* logo, const Gdiplus::Image* downloadBar) {
  // GetWidth and GetHeight are not const in GDI+'s interface.
  auto* logoImage = const_cast<Gdiplus::Image*>(logo);
  auto* barImage = const_cast<Gdiplus::Image*>(downloadBar);
  const UINT logoWidth = logoImage ? logoImage->GetWidth() : 0;
  const UINT logoHeight = logoImage ? logoImage->GetHeight() : 0;
  const UINT barWidth = barImage ? barImage->GetWidth() : 0;
  SplashLayout layout;
  layout.logoOrigin = {kCentreX - static_cast<int>(logoWidth / 2), kLogoTop};
  layout.barOrigin = {kCentreX - static_cast<int>(barWidth / 2),
                      static_cast<int>(logoHeight) + kLogoTop + kLogoToBarGap};
  return layout;
}

MessageHandler MakeSplashTimerHandler(ProgressState& state, AnimatedImage& downloadBar,
                                      AnimatedImage& installBar) {
  return [&state, &downloadBar, &installBar](Window& window, WinMessage message) {
    const TimerStep step =
        DecideTimerStep(message.wParam, state.percent.load(), static_cast<InstallPhase>(state.phase.load()),
                        FramesOf(downloadBar), FramesOf(installBar), state.rateKiBps.load());
    if (step.downloadFrame) SelectFrame(downloadBar, *step.downloadFrame);
    if (step.installFrame) SelectFrame(installBar, *step.installFrame);
    if (step.rateText) state.rateText = *step.rateText;
    if (step.repaint) InvalidateRect(window.handle(), nullptr, FALSE);
    return step.handled;
  };
}

PaintHandler MakeSplashPaintHandler(const Gdiplus::Image* logo, SplashLayout layout,
                                    const ProgressState& state, AnimatedImage& downloadBar,
                                    AnimatedImage& installBar) {
  return [logo = const_cast<Gdiplus::Image*>(logo), layout, &state, &downloadBar, &installBar](
             Window& window, Gdiplus::Graphics& graphics) {
    Gdiplus::SolidBrush background{Gdiplus::Color(kBackground)};
    graphics.FillRectangle(&background, 0, 0, window.width(), window.height());
    Gdiplus::Pen border{Gdiplus::Color(kBorder), 1.0f};
    graphics.DrawRectangle(&border, 0, 0, window.width() - 2, window.height() - 2);
    if (logo) graphics.DrawImage(logo, layout.logoOrigin.x, layout.logoOrigin.y);

    const std::unique_ptr<Gdiplus::Font> font = MakeFont();
    Gdiplus::SolidBrush text{Gdiplus::Color(kText)};
    const Gdiplus::PointF origin(static_cast<Gdiplus::REAL>(layout.barOrigin.x),
                                 static_cast<Gdiplus::REAL>(layout.barOrigin.y + kTextBelowBar));
    if (static_cast<InstallPhase>(state.phase.load()) == InstallPhase::Downloading) {
      if (downloadBar.image)
        graphics.DrawImage(downloadBar.image.get(), layout.barOrigin.x, layout.barOrigin.y);
      Gdiplus::RectF bounds;
      graphics.MeasureString(state.rateText.c_str(), -1, font.get(), Gdiplus::RectF(origin.X, origin.Y, 0, 0),
                             &bounds);
      graphics.DrawString(state.rateText.c_str(), -1, font.get(),
                          Gdiplus::PointF(origin.X + kRateRightEdge - bounds.Width, origin.Y), &text);
      graphics.DrawString(kDownloadingText, -1, font.get(), origin, &text);
    } else {
      if (installBar.image)
        graphics.DrawImage(installBar.image.get(), layout.barOrigin.x, layout.barOrigin.y);
      graphics.DrawString(kInstallingText, -1, font.get(), origin, &text);
    }
  };
}

}  // namespace brimo
