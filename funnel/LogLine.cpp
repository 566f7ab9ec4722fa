#include "funnel/LogLine.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <limits>

#include "trust/InstallerProduct.h"

namespace brimo::funnel {
namespace {

using report::Field;
using report::kFields;

class Cursor {
 public:
  explicit Cursor(std::string_view text) : text_(text) {}
  bool AtEnd() const { return pos_ == text_.size(); }
  bool Skip(char c) {
    if (AtEnd() || text_[pos_] != c) return false;
    ++pos_;
    return true;
  }
  // The text up to the next c (not included), which is consumed; false when there is none.
  bool Until(char c, std::string_view& out) {
    const std::size_t end = text_.find(c, pos_);
    if (end == std::string_view::npos) return false;
    out = text_.substr(pos_, end - pos_);
    pos_ = end + 1;
    return true;
  }
  bool Digits() {
    const std::size_t start = pos_;
    while (!AtEnd() && text_[pos_] >= '0' && text_[pos_] <= '9') ++pos_;
    return pos_ > start;
  }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
};

bool Number(std::string_view text, int& out) {
  if (text.empty()) return false;
  out = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    out = out * 10 + (c - '0');
  }
  return true;
}

// nginx's $time_local: "10/Dec/2026:13:15:22 +0000".
bool ParseTime(std::string_view text, std::int64_t& out) {
  static constexpr std::string_view kMonths = "JanFebMarAprMayJunJulAugSepOctNovDec";
  if (text.size() != 26 || text[2] != '/' || text[6] != '/' || text[11] != ':' || text[14] != ':' ||
      text[17] != ':' || text[20] != ' ' || (text[21] != '+' && text[21] != '-'))
    return false;
  // Lines come in runs of the same second: parse each second once.
  thread_local char cachedText[26];
  thread_local std::int64_t cachedTime = -1;
  if (cachedTime >= 0 && std::memcmp(cachedText, text.data(), text.size()) == 0) {
    out = cachedTime;
    return true;
  }
  const std::size_t month = kMonths.find(text.substr(3, 3));
  std::tm tm{};
  int offsetHours = 0, offsetMinutes = 0;
  if (month == std::string_view::npos || month % 3 != 0 || !Number(text.substr(0, 2), tm.tm_mday) ||
      !Number(text.substr(7, 4), tm.tm_year) || !Number(text.substr(12, 2), tm.tm_hour) ||
      !Number(text.substr(15, 2), tm.tm_min) || !Number(text.substr(18, 2), tm.tm_sec) ||
      !Number(text.substr(22, 2), offsetHours) || !Number(text.substr(24, 2), offsetMinutes))
    return false;
  // nginx writes UTC offsets of at most 14 hours; a date must exist (no 31/Feb).
  static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const int year = tm.tm_year;
  const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
  tm.tm_mon = static_cast<int>(month / 3);
  if (tm.tm_mday < 1 || tm.tm_mday > kDays[tm.tm_mon] || (tm.tm_mon == 1 && !leap && tm.tm_mday > 28) ||
      tm.tm_hour > 23 || tm.tm_min > 59 || tm.tm_sec > 59 || offsetHours > 14 || offsetMinutes > 59)
    return false;
  tm.tm_year -= 1900;
  const std::int64_t offset = (offsetHours * 3600 + offsetMinutes * 60) * (text[21] == '-' ? -1 : 1);
  out = static_cast<std::int64_t>(timegm(&tm)) - offset;
  std::memcpy(cachedText, text.data(), text.size());
  cachedTime = out;
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// %XX escapes decoded; the result must be printable ASCII of at most kMaxValueLength bytes. A raw
// backslash is nginx's mark of a byte it escaped in the log (a quote, a control or high byte), which
// a report never holds unescaped.
bool Unescape(std::string_view raw, std::string& out) {
  out.clear();
  for (std::size_t i = 0; i < raw.size(); ++i) {
    char c = raw[i];
    if (c == '%') {
      const int high = i + 1 < raw.size() ? HexDigit(raw[i + 1]) : -1;
      const int low = i + 2 < raw.size() ? HexDigit(raw[i + 2]) : -1;
      if (high < 0 || low < 0) return false;
      c = static_cast<char>(high * 16 + low);
      i += 2;
    } else if (c == '\\') {
      return false;
    }
    if (c < 0x20 || c > 0x7e || out.size() == report::kMaxValueLength) return false;
    out.push_back(c);
  }
  return true;
}

// As the program writes an int64_t: no sign, no leading zero, at most 2^63 - 1.
bool IsNumber(const std::string& text) {
  if (text.empty() || text.size() > report::kMaxNumberDigits || (text[0] == '0' && text.size() > 1) ||
      !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return false;
  static const std::string kLargest = std::to_string(std::numeric_limits<std::int64_t>::max());
  return text.size() < kLargest.size() || text <= kLargest;
}

bool ParseRunId(const std::string& text, std::uint64_t& out) {
  if (text.size() != report::kRunIdDigits) return false;
  out = 0;
  for (char c : text) {
    const int digit = HexDigit(c);
    if (digit < 0) return false;
    out = out << 4 | static_cast<std::uint64_t>(digit);
  }
  return true;
}

template <std::size_t N>
bool OneOf(const std::array<std::string_view, N>& names, const std::string& text, std::size_t& index) {
  const auto found = std::find(names.begin(), names.end(), text);
  index = static_cast<std::size_t>(found - names.begin());
  return found != names.end();
}

}  // namespace

LogLine ParseLogLine(std::string_view line) {
  // $remote_addr - $remote_user [$time_local] "$request" $status $body_bytes_sent "$http_referer"
  // "$http_user_agent"; nginx escapes quotes inside the quoted fields, so each ends at the next quote.
  LogLine result;
  if (line.size() > kMaxLineLength) {
    result.kind = LineKind::Overlong;
    return result;
  }
  const std::size_t open = line.find(" [");
  if (open == std::string_view::npos) return result;
  Cursor cursor(line.substr(open + 2));
  std::string_view time, request, ignored;
  result.kind = LineKind::Truncated;
  if (!cursor.Until(']', time)) return result;
  if (!ParseTime(time, result.time)) {
    result.kind = LineKind::Garbled;
    return result;
  }
  if (!cursor.Skip(' ') || !cursor.Skip('"') || !cursor.Until('"', request) || !cursor.Skip(' ') ||
      !cursor.Digits() || !cursor.Skip(' ') || !cursor.Digits() || !cursor.Skip(' ') || !cursor.Skip('"') ||
      !cursor.Until('"', ignored) || !cursor.Skip(' ') || !cursor.Skip('"') || !cursor.Until('"', ignored))
    return result;
  result.kind = cursor.AtEnd() ? LineKind::Request : LineKind::Garbled;
  const std::size_t space = request.find(' ');
  if (space == std::string_view::npos) return result;
  result.method = request.substr(0, space);
  result.target = request.substr(space + 1);
  const std::size_t protocol = result.target.rfind(" HTTP/");
  if (protocol != std::string_view::npos) result.target = result.target.substr(0, protocol);
  return result;
}

QueryResult ParseReportQuery(std::string_view query, Report& report) {
  std::array<bool, kFields.size()> seen{};
  report.unknownFields = 0;
  for (auto& value : report.values) value.clear();
  std::size_t pairs = 0;
  while (!query.empty()) {
    const std::size_t amp = query.find('&');
    const std::string_view pair = query.substr(0, amp);
    query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
    if (pair.empty()) continue;
    // A report holds each field once; many more pairs than fields is not one.
    if (++pairs > 2 * kFields.size()) return QueryResult::Bad;
    const std::size_t equals = pair.find('=');
    if (equals == std::string_view::npos) return QueryResult::Bad;
    const std::string_view name = pair.substr(0, equals);
    const auto field = std::find_if(kFields.begin(), kFields.end(),
                                    [name](const report::FieldInfo& info) { return info.name == name; });
    if (field == kFields.end()) {
      ++report.unknownFields;
      continue;
    }
    const std::size_t index = static_cast<std::size_t>(field - kFields.begin());
    if (seen[index] || !Unescape(pair.substr(equals + 1), report.values[index])) return QueryResult::Bad;
    seen[index] = true;
    if (field->numeric && !IsNumber(report.values[index])) return QueryResult::Bad;
  }
  for (std::size_t i = 0; i < kFields.size(); ++i)
    if (kFields[i].required && !seen[i]) return QueryResult::Bad;
  std::size_t event = 0, stage = 0;
  if (!OneOf(report::kEventNames, report.Value(Field::Event), event) ||
      !ParseRunId(report.Value(Field::Run), report.run))
    return QueryResult::Bad;
  if (!report.Value(Field::Stage).empty() && !OneOf(report::kStages, report.Value(Field::Stage), stage))
    return QueryResult::Bad;
  // The program's version is its build's four numbers; any other text is not from the program.
  if (!ParseFourPartVersion(report.Value(Field::Version))) return QueryResult::Bad;
  report.event = static_cast<report::Event>(event);
  return QueryResult::Report;
}

std::string DayText(std::int64_t time) { return TimeText(time).substr(0, 10); }

std::string TimeText(std::int64_t time) {
  const std::time_t t = static_cast<std::time_t>(time);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return text;
}

}  // namespace brimo::funnel
