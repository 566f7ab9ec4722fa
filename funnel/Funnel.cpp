#include "funnel/Funnel.h"

#include <algorithm>
#include <cmath>

namespace brimo::funnel {
namespace {

using report::Event;
using report::Field;

// What a run keeps from its start until its end comes.
constexpr std::array<Field, 3> kStartFields = {Field::Version, Field::Channel, Field::Windows};

std::size_t Index(Field field) { return static_cast<std::size_t>(field); }

bool ToNumber(const std::string& text, double& out) {
  if (text.empty()) return false;
  out = std::stod(text);
  return true;
}

Outcome OutcomeOf(Event end) {
  switch (end) {
    case Event::Finished:
      return Outcome::Finished;
    case Event::Cancelled:
      return Outcome::Cancelled;
    default:
      return Outcome::Failed;
  }
}

void Count(Tally& tally, Outcome outcome) {
  ++tally.starts;
  ++tally.outcomes[static_cast<std::size_t>(outcome)];
}

}  // namespace

void Distribution::Add(double value) {
  double key = 0;
  if (value > 0) {
    const double scale = std::pow(10.0, std::floor(std::log10(value)) - 2);
    key = std::round(value / scale) * scale;
  }
  ++counts_[key];
  ++count_;
}

double Distribution::Percentile(double fraction) const {
  const auto rank = std::max<std::uint64_t>(1, static_cast<std::uint64_t>(std::ceil(fraction * count_)));
  std::uint64_t seen = 0;
  for (const auto& [value, count] : counts_) {
    seen += count;
    if (seen >= rank) return value;
  }
  return 0;
}

bool ParseWindow(std::string_view text, std::int64_t& seconds) {
  seconds = 0;
  for (char c : text) {
    if (c < '0' || c > '9' || seconds > kMaxWindowSeconds) return false;
    seconds = seconds * 10 + (c - '0');
  }
  return seconds > 0 && seconds <= kMaxWindowSeconds;
}

Funnel::Funnel(Options options, RunSink sink) : options_(std::move(options)), sink_(std::move(sink)) {}

void Funnel::Add(const LogLine& line) {
  ++summary_.lines;
  Skipped& skipped = summary_.skipped;
  switch (line.kind) {
    case LineKind::Garbled:
      ++skipped.garbled;
      return;
    case LineKind::Truncated:
      ++skipped.truncated;
      return;
    case LineKind::Overlong:
      ++skipped.overlong;
      return;
    case LineKind::Request:
      break;
  }
  const std::size_t question = line.target.find('?');
  if (line.method != "GET" || line.target.substr(0, question) != options_.reportPath) {
    ++skipped.notReports;
    return;
  }
  if (question == std::string_view::npos ||
      ParseReportQuery(line.target.substr(question + 1), report_) != QueryResult::Report) {
    ++skipped.badQueries;
    return;
  }
  ++summary_.reports;
  skipped.unknownFields += report_.unknownFields;
  ExpireBefore(line.time);
  if (report_.event == Event::Launched) {
    if (open_.count(report_.run)) {
      ++skipped.repeatedStarts;
      return;
    }
    if (open_.size() >= options_.maxOpenRuns) CloseOldest();
    // Starts of runs that have ended stay queued until a window old; many runs within one window
    // must not grow the queue without bound.
    if (starts_.size() >= 2 * options_.maxOpenRuns)
      starts_.erase(std::remove_if(starts_.begin(), starts_.end(),
                                   [this](const std::pair<std::int64_t, std::uint64_t>& entry) {
                                     const auto found = open_.find(entry.second);
                                     return found == open_.end() || found->second.start != entry.first;
                                   }),
                    starts_.end());
    Open open{line.time, {}};
    for (std::size_t i = 0; i < kStartFields.size(); ++i) open.values[i] = report_.Value(kStartFields[i]);
    open_.emplace(report_.run, std::move(open));
    starts_.emplace_back(line.time, report_.run);
    return;
  }
  const auto found = open_.find(report_.run);
  if (found == open_.end()) {
    ++skipped.endsWithoutStart;
    return;
  }
  Close(found->first, found->second, &report_, line.time);
  open_.erase(found);
}

void Funnel::ExpireBefore(std::int64_t time) {
  clock_ = std::max(clock_, time);
  while (!starts_.empty() && starts_.front().first + options_.windowSeconds < clock_) {
    const auto [start, id] = starts_.front();
    starts_.pop_front();
    const auto found = open_.find(id);
    if (found == open_.end() || found->second.start != start) continue;
    Close(id, found->second, nullptr, -1);
    open_.erase(found);
  }
}

void Funnel::CloseOldest() {
  while (!starts_.empty()) {
    const auto [start, id] = starts_.front();
    starts_.pop_front();
    const auto found = open_.find(id);
    if (found == open_.end() || found->second.start != start) continue;
    ++summary_.closedEarly;
    Close(id, found->second, nullptr, -1);
    open_.erase(found);
    return;
  }
}

void Funnel::Finish() {
  summary_.openAtEnd += open_.size();
  for (const auto& [start, id] : starts_) {
    const auto found = open_.find(id);
    if (found == open_.end() || found->second.start != start) continue;
    Close(id, found->second, nullptr, -1);
    open_.erase(found);
  }
  starts_.clear();
}

void Funnel::Close(std::uint64_t id, const Open& open, const Report* end, std::int64_t endTime) {
  Run run;
  run.id = id;
  run.start = open.start;
  run.end = endTime;
  if (end) {
    run.values = end->values;
    run.values[Index(Field::Event)].clear();
    run.outcome = OutcomeOf(end->event);
  }
  run.values[Index(Field::Run)].clear();
  for (std::size_t i = 0; i < kStartFields.size(); ++i) run.values[Index(kStartFields[i])] = open.values[i];

  Count(summary_.total, run.outcome);
  Count(summary_.byVersion[run.Value(Field::Version)], run.outcome);
  const std::string& release = run.Value(Field::ReleaseVersion);
  Count(summary_.byRelease[release.empty() ? "-" : release], run.outcome);
  Count(summary_.byDay[DayText(run.start)], run.outcome);
  if (run.outcome == Outcome::Failed) ++summary_.failures[{run.Value(Field::Stage), run.Value(Field::Code)}];
  double received = 0, expected = 0, ms = 0;
  if (ToNumber(run.Value(Field::BytesReceived), received) &&
      ToNumber(run.Value(Field::BytesExpected), expected) && ToNumber(run.Value(Field::DownloadMs), ms) &&
      received > 0 && received == expected && ms > 0) {
    summary_.downloadMs.Add(ms);
    summary_.downloadKiBps.Add(received / 1024 / (ms / 1000));
  }
  if (sink_) sink_(run);
}

}  // namespace brimo::funnel
