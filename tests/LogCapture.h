// Captures log lines and error boxes in-process for the duration of a test.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/DebugLog.h"
#include "platform/ErrorBox.h"

namespace brimo::test {

class LogCapture {
 public:
  LogCapture() {
    SetDebugStringObserver([this](const std::wstring& text) {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!text.empty()) strings_.push_back(text);
    });
    SetErrorBoxObserver([this](const std::wstring& text) {
      std::lock_guard<std::mutex> lock(mutex_);
      boxes_.push_back(text);
    });
  }
  ~LogCapture() {
    SetDebugStringObserver(nullptr);
    SetErrorBoxObserver(nullptr);
  }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::vector<std::wstring> strings() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return strings_;
  }
  std::vector<std::wstring> boxes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return boxes_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::wstring> strings_;
  std::vector<std::wstring> boxes_;
};

inline std::wstring InfoLine(const std::wstring& message) {
  return L"Quarn Brimo Installer [INFO] " + message + L"\n";
}
inline std::wstring ErrorLine(const std::wstring& message) {
  return L"Quarn Brimo Installer [ERROR] " + message + L"\n";
}

}  // namespace brimo::test
