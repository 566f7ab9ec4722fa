// What the main thread and the install worker share: a few atomic values and the worker's outcome.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace brimo {

enum class InstallPhase : std::int32_t { Downloading = 0, Installing = 1 };

// The worker's result; also the quit code and the process exit code.
enum class InstallOutcome : std::uint32_t { Finished = 1, Cancelled = 2, Failed = 3 };

struct ProgressState {
  std::atomic<bool> cancelRequested{false};  // set once by the main thread after its message loop
  bool silent = true;                        // written before the worker starts
  std::atomic<double> percent{0.0};          // 0..100, written by the download progress hook
  std::atomic<double> rateKiBps{0.0};        // written at most once a second
  std::atomic<std::int32_t> phase{static_cast<std::int32_t>(InstallPhase::Downloading)};
  std::wstring rateText;  // main thread only: formatted by the timer, drawn by the paint handler
};

}  // namespace brimo
