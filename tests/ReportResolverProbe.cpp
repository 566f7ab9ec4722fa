// A run's two outcome reports to URL (host and path), sent as the program sends them; the program's
// exit waits for them.
#include "app/OutcomeReport.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  brimo::OutcomeReporter reporter(argv[1],
                                  brimo::ReportContext{brimo::RunIdText(1), "1.0.0.0", "latest", "10.0"});
  reporter.ReportEvent(std::string(brimo::report::EventName(brimo::report::Event::Launched)));
  const brimo::RunRecord record{std::string(brimo::report::StageName(brimo::report::Stage::Document)), "0"};
  reporter.ReportEvent(std::string(brimo::report::EventName(brimo::report::Event::Failed)), &record, 1);
  return 0;
}
