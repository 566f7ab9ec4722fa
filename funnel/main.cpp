// brimo-funnel: the funnel of the program's outcome reports, read from the report server's access logs.
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "funnel/LogInput.h"
#include "funnel/Output.h"

namespace {

constexpr char kUsage[] =
    "usage: brimo-funnel [--csv | --json] [--svg FILE] [--path PATH] [--window SECONDS] [LOG...]\n"
    "  LOG: nginx access logs (combined format), plain or gzip, in any order; none or - reads standard "
    "input\n"
    "  --csv, --json: one record a run on standard output instead of the summary\n"
    "  --svg FILE: the funnel and the daily outcomes as a picture\n"
    "  --path PATH: the report URL's path (default /report)\n"
    "  --window SECONDS: how long after its start a run's end may come (default 3600, at most a week)\n";

int Usage(const std::string& problem) {
  std::cerr << "brimo-funnel: " << problem << "\n" << kUsage;
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace brimo::funnel;
  enum class Records { None, Csv, Json } records = Records::None;
  Options options;
  std::string svgPath;
  std::vector<std::string> logs;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    } else if (arg == "--csv" || arg == "--json") {
      if (records != Records::None) return Usage("give one of --csv and --json");
      records = arg == "--csv" ? Records::Csv : Records::Json;
    } else if (arg == "--svg" && hasValue) {
      svgPath = argv[++i];
    } else if (arg == "--path" && hasValue) {
      options.reportPath = argv[++i];
    } else if (arg == "--window" && hasValue) {
      if (!ParseWindow(argv[++i], options.windowSeconds))
        return Usage("bad --window (1 to " + std::to_string(kMaxWindowSeconds) + " seconds)");
    } else if (arg.size() > 1 && arg[0] == '-') {
      return Usage("unknown option or missing value: " + arg);
    } else {
      logs.push_back(arg);
    }
  }
  if (logs.empty()) logs.push_back("-");

  std::ios_base::sync_with_stdio(false);
  Funnel::RunSink sink;
  if (records == Records::Csv) {
    std::cout << CsvHeader();
    sink = [](const Run& run) { std::cout << CsvRecord(run); };
  } else if (records == Records::Json) {
    sink = [](const Run& run) { std::cout << JsonRecord(run); };
  }
  Funnel funnel(options, sink);
  ReadLogs(logs, funnel);
  const Summary& summary = funnel.summary();
  if (records == Records::None)
    std::cout << SummaryText(summary);
  else
    std::cerr << "brimo-funnel: " << SkippedText(summary);
  std::cout.flush();
  int status = std::cout ? 0 : 1;
  for (const std::string& error : summary.inputErrors) {
    std::cerr << "brimo-funnel: " << error << "\n";
    status = 1;
  }
  if (!svgPath.empty()) {
    std::ofstream svg(svgPath, std::ios_base::binary | std::ios_base::trunc);
    svg << Svg(summary);
    svg.close();
    if (!svg) {
      std::cerr << "brimo-funnel: cannot write " << svgPath << "\n";
      status = 1;
    }
  }
  return status;
}
