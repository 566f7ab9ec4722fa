// The progress hook of the installer download: carries the user's cancel into the transfer and
// publishes the percentage and, at most once a second, the rate for the window.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "net/WebRequest.h"

namespace brimo {

// Monotonic clock reading in nanoseconds.
using SteadyClock = std::function<std::int64_t()>;
std::int64_t SteadyNowNs();

// The first rate sample is taken against lastSampleTime as the caller set it (the worker's start),
// later ones against the previous sample.
ProgressHandler MakeDownloadProgressHandler(const std::atomic<bool>& cancelRequested,
                                            std::atomic<double>& percent, std::atomic<double>& rateKiBps,
                                            std::int64_t& lastSampleTime, std::int64_t& lastSampleBytes,
                                            SteadyClock clock = SteadyNowNs);

}  // namespace brimo
