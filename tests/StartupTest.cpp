#include <gtest/gtest.h>

#include "LogCapture.h"
#include "app/Startup.h"
#include "platform/Product.h"

namespace brimo {
namespace {

const std::wstring kOfflineBox =
    std::wstring(L"Unable to find the latest version. Check your internet connection or go to ") +
    kSupportUrl;

// Answers "not connected" until the given call, then "connected"; counts calls and sleeps.
struct FakeNetwork {
  explicit FakeNetwork(int connectOnCall = -1, std::uint32_t flags = 0)
      : connectOnCall(connectOnCall), flags(flags) {}

  int connectOnCall;
  std::uint32_t flags;
  int calls = 0;
  std::vector<unsigned> sleeps;

  bool Wait() {
    return StartupWait(
        [this] {
          ++calls;
          return ConnectivityAnswer{calls == connectOnCall, flags};
        },
        [this](unsigned ms) { sleeps.push_back(ms); });
  }
};

TEST(StartupWait, ConnectedAtOnceNeitherWaitsNorReports) {
  test::LogCapture capture;
  FakeNetwork net(1);
  EXPECT_TRUE(net.Wait());
  EXPECT_TRUE(net.sleeps.empty());
  EXPECT_TRUE(capture.strings().empty());
}

TEST(StartupWait, OfflineFlagGivesUpAtOnceWithErrorLineThenBox) {
  test::LogCapture capture;
  FakeNetwork net(-1, kOfflineFlag | 0x01);
  EXPECT_FALSE(net.Wait());
  EXPECT_EQ(net.calls, 1);
  EXPECT_TRUE(net.sleeps.empty());
  EXPECT_EQ(capture.strings(), std::vector<std::wstring>{test::ErrorLine(L"no internet connection")});
  EXPECT_EQ(capture.boxes(), std::vector<std::wstring>{kOfflineBox});
}

TEST(StartupWait, ConnectionAppearingMidWaitContinuesAtOnce) {
  test::LogCapture capture;
  FakeNetwork net(4);
  EXPECT_TRUE(net.Wait());
  EXPECT_EQ(net.sleeps, (std::vector<unsigned>{500, 500, 500}));
  EXPECT_TRUE(capture.boxes().empty());
}

TEST(StartupWait, GivesUpAfter120FailedPolls) {
  test::LogCapture capture;
  FakeNetwork net;
  EXPECT_FALSE(net.Wait());
  EXPECT_EQ(net.calls, 121);
  EXPECT_EQ(net.sleeps, std::vector<unsigned>(120, 500));
  EXPECT_EQ(capture.strings(), std::vector<std::wstring>{test::ErrorLine(L"no internet connection")});
  EXPECT_EQ(capture.boxes(), std::vector<std::wstring>{kOfflineBox});
}

TEST(StartupWait, ConnectionOnTheLastPollStillCounts) {
  FakeNetwork net(121);
  EXPECT_TRUE(net.Wait());
  EXPECT_EQ(net.sleeps.size(), 120u);
}

TEST(CommandLine, NotSilentMatchesOnlyTheExactArgumentAnywhere) {
  const std::wstring option = kNotSilentOption;
  EXPECT_TRUE(HasArgument({L"--not-silent"}, option));
  EXPECT_TRUE(HasArgument({L"--staging", L"x", L"--not-silent"}, option));
  EXPECT_FALSE(HasArgument({}, option));
  EXPECT_FALSE(HasArgument({L"--Not-Silent"}, option));
  EXPECT_FALSE(HasArgument({L"-not-silent"}, option));
  EXPECT_FALSE(HasArgument({L"--not-silent=1"}, option));
  EXPECT_FALSE(HasArgument({L"--not-silent "}, option));
  EXPECT_FALSE(HasArgument({L"--not-silen"}, option));
}

TEST(Outcome, EventNamesForQuitCodes) {
  EXPECT_EQ(OutcomeEventName(1), "zapkit_finished");
  EXPECT_EQ(OutcomeEventName(2), "zapkit_cancelled");
  EXPECT_EQ(OutcomeEventName(3), "zapkit_failed");
  EXPECT_EQ(OutcomeEventName(0), "");
  EXPECT_EQ(OutcomeEventName(4), "");
}

}  // namespace
}  // namespace brimo
