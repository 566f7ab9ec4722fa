// download_bench URL FILE: downloads URL into FILE the way the install worker fetches the installer (one
// WebRequest, the download progress hook, a binary file stream) and prints how long the transfer took:
//   status=200 bytes=N seconds=S mib_per_s=R
// Exit code 0 when the transfer completed with 200 and every byte reached the file, else 1.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>

#include "net/DownloadProgress.h"
#include "net/WebRequest.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: download_bench URL FILE\n");
    return 2;
  }
  std::atomic<bool> cancelRequested{false};
  std::atomic<double> percent{0.0};
  std::atomic<double> rateKiBps{0.0};

  brimo::WebRequest request;
  std::int64_t lastSampleTime = brimo::SteadyNowNs();
  std::int64_t lastSampleBytes = 0;
  request.SetProgressHandler(brimo::MakeDownloadProgressHandler(cancelRequested, percent, rateKiBps,
                                                                lastSampleTime, lastSampleBytes));
  std::ofstream file(argv[2], std::ios::binary | std::ios::trunc);

  const auto start = std::chrono::steady_clock::now();
  const int status = request.Perform(argv[1], file);
  file.close();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  std::ifstream written(argv[2], std::ios::binary | std::ios::ate);
  const long long bytes = written ? static_cast<long long>(written.tellg()) : -1;
  std::printf("status=%d bytes=%lld seconds=%.4f mib_per_s=%.1f\n", status, bytes, seconds,
              static_cast<double>(bytes) / 1048576.0 / seconds);
  if (status != 200 || !request.LastTransferComplete() || !file) {
    std::fprintf(stderr, "download_bench: transfer failed: %s\n", request.LastTransferError().c_str());
    return 1;
  }
  return 0;
}
