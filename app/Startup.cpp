#include "app/Startup.h"

#include <algorithm>

#include "platform/ErrorBox.h"
#include "platform/Product.h"

namespace brimo {

bool StartupWait(const std::function<ConnectivityAnswer()>& ask,
                 const std::function<void(unsigned)>& sleepMs) {
  ConnectivityAnswer answer = ask();
  if (answer.connected) return true;
  if ((answer.flags & kOfflineFlag) == 0) {
    for (int poll = 0; poll < kConnectivityPolls; ++poll) {
      sleepMs(kConnectivityPollMs);
      if (ask().connected) return true;
    }
  }
  ReportError(L"no internet connection",
              std::wstring(L"Unable to find the latest version. Check your internet connection or go to ") +
                  kSupportUrl);
  return false;
}

bool HasArgument(const std::vector<std::wstring>& arguments, const std::wstring& option) {
  return std::find(arguments.begin(), arguments.end(), option) != arguments.end();
}

std::string OutcomeEventName(std::uint32_t quitCode) {
  switch (quitCode) {
    case 1:
      return std::string(report::EventName(report::Event::Finished));
    case 2:
      return std::string(report::EventName(report::Event::Cancelled));
    case 3:
      return std::string(report::EventName(report::Event::Failed));
    default:
      return std::string();
  }
}

}  // namespace brimo
