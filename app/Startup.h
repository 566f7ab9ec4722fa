// Start-up constants and the start-up steps that need no window: the connectivity wait, the command
// line and the outcome report.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "report/ReportFields.h"

namespace brimo {

inline constexpr wchar_t kMutexName[] = L"BrimoSwiftlane";
inline constexpr wchar_t kWindowClassName[] = L"BrimoSwiftlaneSetup";
inline constexpr char kChannel[] = "latest";
inline constexpr wchar_t kNotSilentOption[] = L"--not-silent";
inline constexpr wchar_t kStagingOption[] = L"--staging";
// Turns the outcome report off for one run.
inline constexpr wchar_t kNoReportOption[] = L"/NoReport";
inline constexpr wchar_t kStagingModuleMarker[] = L"Staging";
inline constexpr int kWindowWidth = 360;
inline constexpr int kWindowHeight = 250;
inline constexpr int kCornerEllipse = 4;
inline constexpr unsigned kIconResource = 105;

// One answer of the platform's connectivity query.
struct ConnectivityAnswer {
  bool connected = false;
  std::uint32_t flags = 0;
};
inline constexpr std::uint32_t kOfflineFlag = 0x20;
inline constexpr int kConnectivityPolls = 120;
inline constexpr unsigned kConnectivityPollMs = 500;

// Asks once, gives up at once when the answer carries the offline flag, else polls every 500 ms up
// to 120 times. True as soon as a connection is reported; false after the offline error has been
// logged and shown.
bool StartupWait(const std::function<ConnectivityAnswer()>& ask,
                 const std::function<void(unsigned)>& sleepMs);

// True when some argument equals option exactly (same length, same characters, case-sensitive).
bool HasArgument(const std::vector<std::wstring>& arguments, const std::wstring& option);

// The event reported at the end of a run with this quit code; empty for codes other than 1 to 3.
std::string OutcomeEventName(std::uint32_t quitCode);
inline constexpr std::string_view kLaunchedEvent = report::EventName(report::Event::Launched);

}  // namespace brimo
