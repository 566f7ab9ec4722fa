// The funnel of outcome reports: each run's start and end joined by run id, counted as they stream by.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "funnel/LogLine.h"

namespace brimo::funnel {

enum class Outcome { Finished, Cancelled, Failed, WithoutEnd, Count };
inline constexpr std::array<std::string_view, static_cast<std::size_t>(Outcome::Count)> kOutcomeNames = {
    "finished", "cancelled", "failed", "without_end"};

// Bounds that keep memory fixed whatever the senders send.
inline constexpr std::int64_t kMaxWindowSeconds = 7 * 24 * 3600;
inline constexpr std::size_t kMaxTableRows = 200;       // per version, per release, per stage and code
inline constexpr std::size_t kMaxOpenRuns = 1u << 17;   // started, neither ended nor a window old
inline constexpr std::string_view kOtherRow = "other";  // the rows beyond kMaxTableRows, as printed

struct Options {
  std::string reportPath = std::string(report::kExamplePath);
  std::int64_t windowSeconds = 3600;  // an end later than this after its start does not join it
  std::size_t maxOpenRuns = kMaxOpenRuns;
};

// A --window value: whole seconds, 1 to kMaxWindowSeconds.
bool ParseWindow(std::string_view text, std::int64_t& seconds);

// One run: the start's fields, and the end's when it came within the window.
struct Run {
  std::uint64_t id = 0;
  std::int64_t start = 0;
  std::int64_t end = -1;
  Outcome outcome = Outcome::WithoutEnd;
  std::array<std::string, report::kFields.size()> values;
  const std::string& Value(report::Field field) const { return values[static_cast<std::size_t>(field)]; }
};

// Values rounded to three significant digits and counted, so that percentiles of any number of runs
// take little memory.
class Distribution {
 public:
  void Add(double value);
  std::uint64_t Count() const { return count_; }
  // The smallest value that at least fraction of all values do not exceed (nearest rank).
  double Percentile(double fraction) const;

 private:
  std::map<double, std::uint64_t> counts_;
  std::uint64_t count_ = 0;
};

struct Tally {
  std::array<std::uint64_t, static_cast<std::size_t>(Outcome::Count)> outcomes{};
  std::uint64_t starts = 0;
  std::uint64_t Of(Outcome outcome) const { return outcomes[static_cast<std::size_t>(outcome)]; }
};

// Counts by a key that senders choose: exact for the first kMaxTableRows keys, the later ones
// together in other.
template <typename Key, typename Value>
struct Table {
  std::map<Key, Value> rows;
  Value other{};
  bool hasOther = false;
  Value& operator[](const Key& key) {
    const auto found = rows.find(key);
    if (found != rows.end()) return found->second;
    if (rows.size() < kMaxTableRows) return rows[key];
    hasOther = true;
    return other;
  }
};

// Lines and reports that count in no run.
struct Skipped {
  std::uint64_t notReports = 0;  // whole lines of other requests
  std::uint64_t garbled = 0;
  std::uint64_t truncated = 0;
  std::uint64_t overlong = 0;
  std::uint64_t badQueries = 0;
  std::uint64_t unknownFields = 0;  // fields ignored in reports that were read
  std::uint64_t repeatedStarts = 0;
  std::uint64_t endsWithoutStart = 0;  // no start seen within the window before them
};

struct Summary {
  std::uint64_t lines = 0;
  std::uint64_t reports = 0;
  Skipped skipped;
  Tally total;
  std::uint64_t openAtEnd = 0;    // of the runs without end: those less than a window old when the logs ended
  std::uint64_t closedEarly = 0;  // of the runs without end: the oldest when maxOpenRuns were open
  Table<std::pair<std::string, std::string>, std::uint64_t> failures;  // (stage, code) -> runs
  Table<std::string, Tally> byVersion, byRelease;
  std::map<std::string, Tally> byDay;      // days of the server's log, not of the senders
  Distribution downloadMs, downloadKiBps;  // downloads that received every byte expected
  std::vector<std::string> inputErrors;
};

class Funnel {
 public:
  using RunSink = std::function<void(const Run&)>;
  explicit Funnel(Options options, RunSink sink = {});

  // Lines are given in time order (a few seconds out of order do no harm).
  void Add(std::string_view line) { Add(ParseLogLine(line)); }
  void Add(const LogLine& line);
  // The input has ended: the runs still open end without end.
  void Finish();
  Summary& summary() { return summary_; }
  // The runs held open and the starts queued for expiry: at most three times maxOpenRuns.
  std::size_t Held() const { return open_.size() + starts_.size(); }

 private:
  struct Open {
    std::int64_t start;
    std::array<std::string, 3> values;  // program version, channel, Windows version
  };
  void ExpireBefore(std::int64_t time);
  void CloseOldest();  // the oldest open run ends without end, to make room
  void Close(std::uint64_t id, const Open& open, const Report* end, std::int64_t endTime);

  Options options_;
  RunSink sink_;
  Summary summary_;
  Report report_;  // reused for every line
  std::int64_t clock_ = 0;
  std::unordered_map<std::uint64_t, Open> open_;
  std::deque<std::pair<std::int64_t, std::uint64_t>> starts_;  // (start, id) in the order seen
};

}  // namespace brimo::funnel
