#include <gtest/gtest.h>
#include <set>
#include <thread>

#include "LogCapture.h"
#include "platform/DebugLog.h"

namespace brimo {
namespace {

using test::ErrorLine;
using test::InfoLine;

TEST(DebugLog, EachLineIsOneDebugStringOfTitleTagMessageAndLineFeed) {
  test::LogCapture capture;
  LogInfo(L"starting download thread");
  LogError(L"");
  LogInfo(L"two\nlines");
  const std::vector<std::wstring> expected = {InfoLine(L"starting download thread"),
                                              L"Quarn Brimo Installer [ERROR] \n",
                                              L"Quarn Brimo Installer [INFO] two\nlines\n"};
  EXPECT_EQ(capture.strings(), expected);
}

TEST(DebugLog, LinesFromTwoThreadsNeverInterleave) {
  test::LogCapture capture;
  constexpr int kLines = 500;
  auto writer = [](const std::wstring& who) {
    for (int i = 0; i < kLines; ++i) LogInfo(who + L" line " + std::to_wstring(i));
  };
  std::thread a(writer, L"worker");
  std::thread b(writer, L"main");
  a.join();
  b.join();

  std::set<std::wstring> expected;
  for (int i = 0; i < kLines; ++i) {
    expected.insert(InfoLine(L"worker line " + std::to_wstring(i)));
    expected.insert(InfoLine(L"main line " + std::to_wstring(i)));
  }
  const std::vector<std::wstring> seen = capture.strings();
  EXPECT_EQ(seen.size(), expected.size());
  EXPECT_EQ(std::set<std::wstring>(seen.begin(), seen.end()), expected);
}

TEST(Utf8ToWide, DecodesWellFormedTextAndFallsBackWholeOtherwise) {
  const std::wstring fallback = L"(invalid string)";
  EXPECT_EQ(Utf8ToWide("", fallback), L"");
  EXPECT_EQ(Utf8ToWide("bad conversion", fallback), L"bad conversion");
  EXPECT_EQ(Utf8ToWide("caf\xC3\xA9 \xE2\x82\xAC", fallback), L"caf\u00E9 \u20AC");
  EXPECT_EQ(Utf8ToWide("\xF0\x9F\x98\x80", fallback), L"\U0001F600");
  EXPECT_EQ(Utf8ToWide("\x80", fallback), fallback);          // lone continuation byte
  EXPECT_EQ(Utf8ToWide("ok \xE2\x82", fallback), fallback);   // cut off at the end
  EXPECT_EQ(Utf8ToWide("\xC0\xAF", fallback), fallback);      // overlong
  EXPECT_EQ(Utf8ToWide("\xED\xA0\x80", fallback), fallback);  // encoded surrogate
}

}  // namespace
}  // namespace brimo
