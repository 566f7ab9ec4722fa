#include "platform/DebugLog.h"

#include <mutex>

#include "platform/DebugOutput.h"
#include "platform/Product.h"
#include "platform/TextConvert.h"

namespace brimo {

// Defined before the stream, so they are built before it and destroyed after it: the stream's last
// flush at process exit still uses them.
namespace {
std::mutex observerMutex;
DebugStringObserver observer;
std::mutex lineMutex;

void WriteLine(const wchar_t* tag, const std::wstring& message) {
  // One line is appended and flushed under one lock, so lines of two threads never interleave.
  std::lock_guard<std::mutex> lock(lineMutex);
  DebugLog << kProductTitle << tag << message << L'\n';
  DebugLog.flush();
}
}  // namespace

void WriteDebugString(const std::wstring& text) {
  {
    std::lock_guard<std::mutex> lock(observerMutex);
    if (observer) {
      observer(text);
      return;
    }
  }
  PlatformWriteDebugString(text);
}

void SetDebugStringObserver(DebugStringObserver newObserver) {
  std::lock_guard<std::mutex> lock(observerMutex);
  observer = std::move(newObserver);
}

basic_dostream<wchar_t> DebugLog;

void LogInfo(const std::wstring& message) { WriteLine(L" [INFO] ", message); }
void LogError(const std::wstring& message) { WriteLine(L" [ERROR] ", message); }

std::wstring Utf8ToWide(const std::string& text, const std::wstring& fallback) {
  return DecodeUtf8(text).value_or(fallback);
}

}  // namespace brimo
