// The splash window's two handlers: the animation timer and the paint handler.
#pragma once

#include "app/ProgressState.h"
#include "ui/AnimatedImage.h"
#include "ui/Window.h"

namespace brimo {

struct IntPoint {
  int x;
  int y;
};

// Both bars sit at barOrigin; the status word and the rate go on the line 32 pixels below it.
struct SplashLayout {
  IntPoint logoOrigin;
  IntPoint barOrigin;
};

// The logo centred at y 76, the bar centred 24 pixels below the logo.
SplashLayout ComputeSplashLayout(const Gdiplus::Image* logo, const Gdiplus::Image* downloadBar);

// Steps the bars, formats the rate and asks for repaints (timer 4919 only).
MessageHandler MakeSplashTimerHandler(ProgressState& state, AnimatedImage& downloadBar,
                                      AnimatedImage& installBar);

// Draws background, border, logo, the bar of the current phase, the status word and the rate.
PaintHandler MakeSplashPaintHandler(const Gdiplus::Image* logo, SplashLayout layout,
                                    const ProgressState& state, AnimatedImage& downloadBar,
                                    AnimatedImage& installBar);

}  // namespace brimo
