// The outcome report: what a run tells the maker's report server, one query string per event (the
// field names in report/ReportFields.h), and the sender that keeps a slow report server from holding
// the program up.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "report/ReportFields.h"

namespace brimo {

// What the worker notes of where and how the run ended; what the run never reached stays unset.
struct RunRecord {
  std::string stage;  // one of report::kStages
  std::string code;   // the HTTP status, a check's name or the installer's exit code
  std::optional<std::string> releaseVersion;
  std::optional<std::int64_t> bytesReceived, bytesExpected;
  std::optional<std::int64_t> documentMs, downloadMs, checksMs, installerMs;
};

// What both events of a run carry.
struct ReportContext {
  std::string runId;  // report::kRunIdDigits lowercase hex digits
  std::string version, channel, windows;
};

// A value as the report carries it: at most report::kMaxValueLength bytes of printable ASCII ('?'
// for any other byte), percent-escaped but for letters, digits and "-._~".
std::string ReportValue(const std::string& text);

// The query string of event; for an end event with the record and the whole run's ms.
std::string ReportQuery(report::Event event, const ReportContext& context, const RunRecord* end = nullptr,
                        std::int64_t runMs = 0);

// The run id for 64 random bits.
std::string RunIdText(std::uint64_t random);

// The report's request gives up after this long, connection included: the end event, which the
// program waits for, adds at most this much to a run.
inline constexpr long kReportTimeoutMs = 1000;

class OutcomeReporter {
 public:
  // url: host and path without a scheme, as the build setting gives it; empty sends nothing.
  OutcomeReporter(std::string url, ReportContext context);
  // Waits for any report still on its way (each ends within kReportTimeoutMs of its start).
  ~OutcomeReporter();
  OutcomeReporter(const OutcomeReporter&) = delete;
  OutcomeReporter& operator=(const OutcomeReporter&) = delete;

  // Sends the event named on a thread of its own; an end event (with its record) is waited for, up
  // to the request's time-out. Unknown names send nothing.
  void ReportEvent(const std::string& name, const RunRecord* end = nullptr, std::int64_t runMs = 0);

 private:
  void WaitForSent();

  std::string url_;
  ReportContext context_;
  std::vector<std::thread> sending_;
};

}  // namespace brimo
