// A run's two outcome reports to URL (host and path), sent as the program sends them; prints the ms
// from the first until the reporter has ended, the time the reports add to a run.
#include <chrono>
#include <cstdio>

#include "app/OutcomeReport.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const auto started = std::chrono::steady_clock::now();
  {
    brimo::OutcomeReporter reporter(argv[1],
                                    brimo::ReportContext{brimo::RunIdText(1), "1.0.0.0", "latest", "10.0"});
    reporter.ReportEvent(std::string(brimo::report::EventName(brimo::report::Event::Launched)));
    brimo::RunRecord record;
    record.stage = brimo::report::StageName(brimo::report::Stage::Document);
    record.code = "0";
    reporter.ReportEvent(std::string(brimo::report::EventName(brimo::report::Event::Failed)), &record, 1);
  }
  const auto elapsed = std::chrono::steady_clock::now() - started;
  std::printf("%lld\n",
              static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count()));
  return 0;
}
