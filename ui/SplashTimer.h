// The splash view's per-tick decisions, kept apart from the window so they can be tested anywhere.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "app/ProgressState.h"

namespace brimo {

inline constexpr std::uint64_t kAnimationTimerId = 4919;
inline constexpr unsigned kAnimationTimerMs = 100;

// What the timer needs to know of one bar.
struct BarFrames {
  bool hasImage = false;
  std::uint32_t frameCount = 0;
  std::uint32_t currentFrame = 0;
};

struct TimerStep {
  bool handled = false;                        // false: the timer is not ours
  bool repaint = false;                        // invalidate the window without erasing
  std::optional<std::uint32_t> downloadFrame;  // frame to make current on the download bar
  std::optional<std::uint32_t> installFrame;   // frame to make current on the busy bar
  std::optional<std::wstring> rateText;        // new text for the rate
};

// While downloading, the bar, the rate and the repaint change only when the whole percentage does;
// while installing, the busy bar advances one frame every tick.
TimerStep DecideTimerStep(std::uint64_t timerId, double percent, InstallPhase phase,
                          const BarFrames& downloadBar, const BarFrames& installBar, double rateKiBps);

// "1.50MB/s" above 1024 KiB/s, else "512.00KB/s".
std::wstring FormatRate(double rateKiBps);

}  // namespace brimo
