#include "net/DownloadProgress.h"

#include <chrono>

namespace brimo {

std::int64_t SteadyNowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

ProgressHandler MakeDownloadProgressHandler(const std::atomic<bool>& cancelRequested,
                                            std::atomic<double>& percent, std::atomic<double>& rateKiBps,
                                            std::int64_t& lastSampleTime, std::int64_t& lastSampleBytes,
                                            SteadyClock clock) {
  return [&cancelRequested, &percent, &rateKiBps, &lastSampleTime, &lastSampleBytes,
          clock = std::move(clock)](std::int64_t total, std::int64_t now) -> int {
    if (cancelRequested.load()) return 1;
    if (total == 0 || now == 0) return 0;
    percent.exchange(static_cast<double>(now) / static_cast<double>(total) * 100.0);
    const double elapsed = static_cast<double>(clock() - lastSampleTime) / 1e9;
    if (!(elapsed > 1.0)) return 0;
    rateKiBps.exchange(static_cast<double>(now - lastSampleBytes) * 0.0009765625 / elapsed);
    lastSampleTime = clock();
    lastSampleBytes = now;
    return 0;
  };
}

}  // namespace brimo
