#include "app/OutcomeReport.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "net/ReportRequest.h"

namespace brimo {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

bool Unreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
         c == '_' || c == '~';
}

void Append(std::string& query, report::Field field, const std::string& value) {
  if (!query.empty()) query += '&';
  query += report::FieldName(field);
  query += '=';
  query += ReportValue(value);
}

void AppendNumber(std::string& query, report::Field field, const std::optional<std::int64_t>& value) {
  if (value && *value >= 0) Append(query, field, std::to_string(*value));
}

}  // namespace

std::string ReportValue(const std::string& text) {
  std::string escaped;
  const std::size_t length = std::min(text.size(), report::kMaxValueLength);
  for (std::size_t i = 0; i < length; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const unsigned char printable = c >= 0x20 && c < 0x7f ? c : '?';
    if (Unreserved(printable)) {
      escaped += static_cast<char>(printable);
    } else {
      escaped += '%';
      escaped += kHexDigits[printable >> 4];
      escaped += kHexDigits[printable & 0xf];
    }
  }
  return escaped;
}

std::string ReportQuery(report::Event event, const ReportContext& context, const RunRecord* end,
                        std::int64_t runMs) {
  using report::Field;
  std::string query;
  Append(query, Field::Event, std::string(report::EventName(event)));
  Append(query, Field::Run, context.runId);
  Append(query, Field::Version, context.version);
  Append(query, Field::Channel, context.channel);
  Append(query, Field::Windows, context.windows);
  if (!end || event == report::Event::Launched) return query;
  if (!end->stage.empty()) Append(query, Field::Stage, end->stage);
  if (!end->code.empty()) Append(query, Field::Code, end->code);
  if (end->releaseVersion) Append(query, Field::ReleaseVersion, *end->releaseVersion);
  AppendNumber(query, Field::BytesReceived, end->bytesReceived);
  AppendNumber(query, Field::BytesExpected, end->bytesExpected);
  AppendNumber(query, Field::DocumentMs, end->documentMs);
  AppendNumber(query, Field::DownloadMs, end->downloadMs);
  AppendNumber(query, Field::ChecksMs, end->checksMs);
  AppendNumber(query, Field::InstallerMs, end->installerMs);
  AppendNumber(query, Field::RunMs, runMs);
  return query;
}

std::string RunIdText(std::uint64_t random) {
  char text[report::kRunIdDigits + 1] = {};
  std::snprintf(text, sizeof(text), "%016llx", static_cast<unsigned long long>(random));
  return text;
}

OutcomeReporter::OutcomeReporter(std::string url, ReportContext context)
    : url_(std::move(url)), context_(std::move(context)) {}

OutcomeReporter::~OutcomeReporter() { WaitForSent(); }

void OutcomeReporter::ReportEvent(const std::string& name, const RunRecord* end, std::int64_t runMs) {
  if (url_.empty()) return;
  const auto found = std::find(report::kEventNames.begin(), report::kEventNames.end(), name);
  if (found == report::kEventNames.end()) return;
  const auto event = static_cast<report::Event>(found - report::kEventNames.begin());
  auto request = std::make_shared<ReportRequest>(
      "http://" + url_ + "?" + ReportQuery(event, context_, end, runMs), kReportTimeoutMs);
  sending_.emplace_back([request] { request->Send(); });
  if (event != report::Event::Launched) WaitForSent();
}

void OutcomeReporter::WaitForSent() {
  for (std::thread& thread : sending_) thread.join();
  sending_.clear();
}

}  // namespace brimo
