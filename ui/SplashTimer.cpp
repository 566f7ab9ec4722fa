#include "ui/SplashTimer.h"

#include <boost/format.hpp>

namespace brimo {

namespace {
constexpr wchar_t kKiloFormat[] = L"%1$2.2fKB/s";
constexpr wchar_t kMegaFormat[] = L"%1$2.2fMB/s";
}  // namespace

std::wstring FormatRate(double rateKiBps) {
  if (rateKiBps > 1024.0) return (boost::wformat(kMegaFormat) % (rateKiBps / 1024)).str();
  return (boost::wformat(kKiloFormat) % rateKiBps).str();
}

TimerStep DecideTimerStep(std::uint64_t timerId, double percent, InstallPhase phase,
                          const BarFrames& downloadBar, const BarFrames& installBar, double rateKiBps) {
  TimerStep step;
  if (timerId != kAnimationTimerId) return step;
  step.handled = true;
  const auto p = static_cast<std::uint32_t>(percent);
  if (phase == InstallPhase::Downloading) {
    if (downloadBar.currentFrame == p) return step;
    if (downloadBar.hasImage && downloadBar.frameCount >= 1) step.downloadFrame = p % downloadBar.frameCount;
    step.rateText = FormatRate(rateKiBps);
    step.repaint = true;
    return step;
  }
  if (installBar.hasImage && installBar.frameCount >= 1)
    step.installFrame = (installBar.currentFrame + 1) % installBar.frameCount;
  step.repaint = true;
  return step;
}

}  // namespace brimo
