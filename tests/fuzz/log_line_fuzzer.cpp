// Feeds arbitrary bytes, as access-log lines, to the funnel's line and query readers and the funnel
// itself: no read outside them, and every report it accepts holds only what the program could send.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "funnel/Funnel.h"
#include "funnel/Output.h"
#include "trust/InstallerProduct.h"

namespace {

using namespace brimo;

void CheckReport(const funnel::Report& report) {
  for (std::size_t i = 0; i < report::kFields.size(); ++i) {
    const std::string& value = report.values[i];
    if (value.size() > report::kMaxValueLength ||
        std::any_of(value.begin(), value.end(), [](char c) { return c < 0x20 || c > 0x7e; }))
      __builtin_trap();
    if (report::kFields[i].numeric && !value.empty() &&
        (value.size() > report::kMaxNumberDigits || (value[0] == '0' && value.size() > 1)))
      __builtin_trap();
  }
  if (!ParseFourPartVersion(report.Value(report::Field::Version))) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  funnel::Options options;
  options.maxOpenRuns = 4;
  std::size_t runs = 0;
  funnel::Funnel funnel(options, [&runs](const funnel::Run& run) {
    ++runs;
    funnel::CsvRecord(run);
    funnel::JsonRecord(run);
  });
  for (std::size_t pos = 0; pos <= input.size();) {
    const std::size_t feed = std::min(input.find('\n', pos), input.size());
    const std::string_view text = input.substr(pos, feed - pos);
    pos = feed + 1;
    // The query reader on its own, for lines that are a query string alone.
    funnel::Report report;
    if (funnel::ParseReportQuery(text, report) == funnel::QueryResult::Report) CheckReport(report);
    funnel.Add(text);
  }
  funnel.Finish();
  if (runs != funnel.summary().total.starts || funnel.Held() > 0) __builtin_trap();
  funnel::SummaryText(funnel.summary());
  return 0;
}
