#include <gtest/gtest.h>

#include "ui/SplashTimer.h"

namespace brimo {
namespace {

const BarFrames kHundredFrames{true, 100, 0};

TimerStep Downloading(double percent, std::uint32_t currentFrame, double rate = 0.0) {
  return DecideTimerStep(kAnimationTimerId, percent, InstallPhase::Downloading,
                         BarFrames{true, 100, currentFrame}, kHundredFrames, rate);
}

TEST(SplashTimer, OnlyTheAnimationTimerIsHandled) {
  const TimerStep step =
      DecideTimerStep(1, 50.0, InstallPhase::Downloading, kHundredFrames, kHundredFrames, 0);
  EXPECT_FALSE(step.handled);
  EXPECT_FALSE(step.repaint);
  EXPECT_FALSE(step.rateText);
}

TEST(SplashTimer, DownloadFrameFollowsTheWholePercentage) {
  const TimerStep unchanged = Downloading(0.0, 0);
  EXPECT_TRUE(unchanged.handled);
  EXPECT_FALSE(unchanged.repaint);
  EXPECT_FALSE(unchanged.rateText);
  EXPECT_FALSE(unchanged.downloadFrame);

  EXPECT_EQ(Downloading(42.9, 0).downloadFrame, 42u);
  EXPECT_FALSE(Downloading(42.9, 42).repaint);
  EXPECT_EQ(Downloading(99.99, 42).downloadFrame, 99u);

  // 100 % wraps to the empty track, so the frame never equals 100 and every tick repaints.
  const TimerStep full = Downloading(100.0, 0, 2048.0);
  EXPECT_EQ(full.downloadFrame, 0u);
  EXPECT_TRUE(full.repaint);
  EXPECT_EQ(full.rateText, L"2.00MB/s");
}

TEST(SplashTimer, BarsWithoutFramesAreNotSteppedButRateAndRepaintGoOn) {
  const TimerStep noImage =
      DecideTimerStep(kAnimationTimerId, 10.0, InstallPhase::Downloading, BarFrames{}, BarFrames{}, 512.0);
  EXPECT_FALSE(noImage.downloadFrame);
  EXPECT_TRUE(noImage.repaint);
  EXPECT_EQ(noImage.rateText, L"512.00KB/s");

  const TimerStep installing =
      DecideTimerStep(kAnimationTimerId, 10.0, InstallPhase::Installing, BarFrames{}, BarFrames{}, 512.0);
  EXPECT_FALSE(installing.installFrame);
  EXPECT_TRUE(installing.repaint);
}

TEST(SplashTimer, BusyBarAdvancesEveryTickAndWraps) {
  auto installing = [](std::uint32_t current) {
    return DecideTimerStep(kAnimationTimerId, 100.0, InstallPhase::Installing, BarFrames{true, 100, 7},
                           BarFrames{true, 100, current}, 4096.0);
  };
  EXPECT_EQ(installing(0).installFrame, 1u);
  EXPECT_EQ(installing(99).installFrame, 0u);
  EXPECT_TRUE(installing(5).repaint);
  EXPECT_FALSE(installing(5).rateText);
  EXPECT_FALSE(installing(5).downloadFrame);
  // A single-frame image always lands on frame 0.
  EXPECT_EQ(DecideTimerStep(kAnimationTimerId, 0, InstallPhase::Installing, {}, BarFrames{true, 1, 0}, 0)
                .installFrame,
            0u);
}

TEST(SplashTimer, RateFormats) {
  EXPECT_EQ(FormatRate(0.0), L"0.00KB/s");
  EXPECT_EQ(FormatRate(512.0), L"512.00KB/s");
  EXPECT_EQ(FormatRate(1024.0), L"1024.00KB/s");
  EXPECT_EQ(FormatRate(1024.5), L"1.00MB/s");
  EXPECT_EQ(FormatRate(1536.0), L"1.50MB/s");
  EXPECT_EQ(FormatRate(10240.0), L"10.00MB/s");
  EXPECT_EQ(FormatRate(0.5), L"0.50KB/s");
}

}  // namespace
}  // namespace brimo
