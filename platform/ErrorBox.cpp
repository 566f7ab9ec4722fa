#include "platform/ErrorBox.h"

#include <mutex>

#include "platform/DebugLog.h"

namespace brimo {

namespace {
std::mutex observerMutex;
ErrorBoxObserver observer;
}  // namespace

void ShowErrorBox(const std::wstring& text) {
  ErrorBoxObserver current;
  {
    std::lock_guard<std::mutex> lock(observerMutex);
    current = observer;
  }
  if (current)
    current(text);
  else
    PlatformShowErrorBox(text);
}

void ReportError(const std::wstring& logMessage, const std::wstring& boxText) {
  LogError(logMessage);
  ShowErrorBox(boxText);
}

void SetErrorBoxObserver(ErrorBoxObserver newObserver) {
  std::lock_guard<std::mutex> lock(observerMutex);
  observer = std::move(newObserver);
}

}  // namespace brimo
