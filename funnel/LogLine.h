// One line of an nginx access log in the "combined" format, and the outcome report it may carry.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "report/ReportFields.h"

namespace brimo::funnel {

enum class LineKind {
  Request,    // a whole combined-format line
  Garbled,    // not in the combined format
  Truncated,  // the start of one, cut short
  Overlong,   // longer than kMaxLineLength, skipped unread
};

inline constexpr std::size_t kMaxLineLength = 16 * 1024;

struct LogLine {
  LineKind kind = LineKind::Garbled;
  std::int64_t time = 0;  // seconds since 1970 UTC, for Request lines
  std::string_view method, target;
};

LogLine ParseLogLine(std::string_view line);

// The fields of one report, unescaped and checked.
struct Report {
  report::Event event = report::Event::Launched;
  std::uint64_t run = 0;
  std::array<std::string, report::kFields.size()> values;  // empty when absent
  std::size_t unknownFields = 0;
  const std::string& Value(report::Field field) const { return values[static_cast<std::size_t>(field)]; }
};

enum class QueryResult { Report, Bad };

// Reads the query string of a report request (without the '?'). Bad: a malformed escape, a control or
// non-ASCII character, an over-long value, a repeated or missing field, or a value of a form the
// program never sends (a version not of four numbers, a number with a leading zero or past 2^63 - 1).
// Unknown fields are counted in the report and otherwise ignored.
QueryResult ParseReportQuery(std::string_view query, Report& report);

// Seconds since 1970 UTC as "YYYY-MM-DD" and as "YYYY-MM-DDTHH:MM:SSZ".
std::string DayText(std::int64_t time);
std::string TimeText(std::int64_t time);

}  // namespace brimo::funnel
