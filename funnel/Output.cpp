#include "funnel/Output.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <string_view>

namespace brimo::funnel {
namespace {

using report::Field;
using report::kFields;

constexpr std::array<Outcome, 4> kOutcomes = {Outcome::Finished, Outcome::Cancelled, Outcome::Failed,
                                              Outcome::WithoutEnd};
// The picture's colours, one an outcome in kOutcomes order, then the starts'.
constexpr std::array<std::string_view, 4> kOutcomeColours = {"#2e9d5b", "#e8a33d", "#d64541", "#9aa3ad"};
constexpr std::string_view kStartsColour = "#3b6fb6";
constexpr std::string_view kInk = "#2b2f36";

std::string_view NameOf(Outcome outcome) { return kOutcomeNames[static_cast<std::size_t>(outcome)]; }

std::string Label(Outcome outcome) {
  std::string label(NameOf(outcome));
  std::replace(label.begin(), label.end(), '_', ' ');
  return label;
}

template <typename... Args>
std::string Format(const char* pattern, Args... args) {
  std::string text(static_cast<std::size_t>(std::snprintf(nullptr, 0, pattern, args...)), '\0');
  std::snprintf(text.data(), text.size() + 1, pattern, args...);
  return text;
}

std::string Percent(std::uint64_t part, std::uint64_t whole) {
  return whole ? Format("%.1f%%", 100.0 * static_cast<double>(part) / static_cast<double>(whole)) : "";
}

std::string RunId(std::uint64_t id) { return Format("%016" PRIx64, id); }

std::string TallyRow(const std::string& key, const Tally& tally) {
  std::string text = Format("  %-22s %9" PRIu64, key.c_str(), tally.starts);
  for (Outcome outcome : kOutcomes) text += Format(" %11" PRIu64, tally.Of(outcome));
  return text + "\n";
}

std::string TallyTable(const char* title, const std::map<std::string, Tally>& tallies,
                       const Tally* other = nullptr) {
  std::string text = Format("%-24s %9s", title, "starts");
  for (Outcome outcome : kOutcomes) text += Format(" %11s", Label(outcome).c_str());
  text += "\n";
  for (const auto& [key, tally] : tallies) text += TallyRow(key, tally);
  if (other) text += TallyRow("(" + std::string(kOtherRow) + ")", *other);
  return text;
}

std::string TallyTable(const char* title, const Table<std::string, Tally>& table) {
  return TallyTable(title, table.rows, table.hasOther ? &table.other : nullptr);
}

// A value of at most three significant digits in plain decimal, never in exponent form.
std::string Plain(double value) {
  const int digits = value > 0 ? static_cast<int>(std::floor(std::log10(value))) : 0;
  return Format("%.*f", std::max(0, 2 - digits), value);
}

std::string Percentiles(const char* title, const Distribution& values, double scale, const char* unit) {
  if (values.Count() == 0) return Format("%-16s no completed downloads\n", title);
  return Format("%-16s median %s %s, 90th percentile %s %s (%" PRIu64 " downloads)\n", title,
                Plain(values.Percentile(0.5) / scale).c_str(), unit,
                Plain(values.Percentile(0.9) / scale).c_str(), unit, values.Count());
}

// A spreadsheet reads a cell that starts with one of these as a formula.
bool FormulaStart(const std::string& value) {
  return !value.empty() && std::string_view("=+-@").find(value[0]) != std::string_view::npos;
}

// The report fields that a record carries after its run id and times.
bool InRecord(Field field) { return field != Field::Event && field != Field::Run; }

std::string Escaped(std::string_view text, std::string_view special, std::string_view escape) {
  std::string out;
  for (char c : text) {
    if (special.find(c) != std::string_view::npos) out += escape;
    out += c;
  }
  return out;
}

}  // namespace

std::string SkippedText(const Summary& summary) {
  const Skipped& s = summary.skipped;
  return Format("%" PRIu64 " lines, %" PRIu64 " reports; skipped: %" PRIu64 " not reports, %" PRIu64
                " garbled, %" PRIu64 " truncated, %" PRIu64 " over-long, %" PRIu64 " bad queries, %" PRIu64
                " repeated starts, %" PRIu64 " ends without start; %" PRIu64 " unknown fields ignored\n",
                summary.lines, summary.reports, s.notReports, s.garbled, s.truncated, s.overlong,
                s.badQueries, s.repeatedStarts, s.endsWithoutStart, s.unknownFields);
}

std::string SummaryText(const Summary& summary) {
  const Tally& total = summary.total;
  std::string text = Format("%-24s %9" PRIu64 "\n", "starts", total.starts);
  for (Outcome outcome : kOutcomes)
    text += Format("  %-22s %9" PRIu64 " %6s\n", Label(outcome).c_str(), total.Of(outcome),
                   Percent(total.Of(outcome), total.starts).c_str());
  if (summary.openAtEnd)
    text += Format("  (%" PRIu64 " of them still open when the logs end)\n", summary.openAtEnd);
  if (summary.closedEarly)
    text +=
        Format("  (%" PRIu64 " of them ended early: too many runs were open at once)\n", summary.closedEarly);
  text += "failures by stage and code\n";
  for (const auto& [key, count] : summary.failures.rows)
    text += Format("  %-22s %9" PRIu64 "\n", (key.first + " " + key.second).c_str(), count);
  if (summary.failures.hasOther)
    text += Format("  %-22s %9" PRIu64 "\n", ("(" + std::string(kOtherRow) + ")").c_str(),
                   summary.failures.other);
  text += TallyTable("per program version", summary.byVersion);
  text += TallyTable("per release version", summary.byRelease);
  text += TallyTable("per day", summary.byDay);
  text += Percentiles("download time", summary.downloadMs, 1000, "s");
  text += Percentiles("download rate", summary.downloadKiBps, 1, "KiB/s");
  return text + SkippedText(summary);
}

std::string CsvHeader() {
  std::string text = "run,start,end,outcome";
  for (const auto& info : kFields)
    if (InRecord(static_cast<Field>(&info - kFields.data()))) text += "," + std::string(info.name);
  return text + "\n";
}

std::string CsvRecord(const Run& run) {
  std::string text = RunId(run.id) + "," + TimeText(run.start) + "," +
                     (run.end < 0 ? "" : TimeText(run.end)) + "," + std::string(NameOf(run.outcome));
  for (std::size_t i = 0; i < kFields.size(); ++i) {
    if (!InRecord(static_cast<Field>(i))) continue;
    const std::string& value = run.values[i];
    // A would-be formula is quoted with a leading apostrophe, which spreadsheets show as text.
    const bool formula = FormulaStart(value);
    const bool quote = formula || value.find_first_of(",\"") != std::string::npos;
    const std::string cell = (formula ? "'" : "") + value;
    text += "," + (quote ? "\"" + Escaped(cell, "\"", "\"") + "\"" : cell);
  }
  return text + "\n";
}

std::string JsonRecord(const Run& run) {
  std::string text = "{\"run\":\"" + RunId(run.id) + "\",\"start\":\"" + TimeText(run.start) + "\"";
  if (run.end >= 0) text += ",\"end\":\"" + TimeText(run.end) + "\"";
  text += ",\"outcome\":\"" + std::string(NameOf(run.outcome)) + "\"";
  for (std::size_t i = 0; i < kFields.size(); ++i) {
    const std::string& value = run.values[i];
    if (!InRecord(static_cast<Field>(i)) || value.empty()) continue;
    // Values are printable ASCII: only quotes and backslashes need escaping.
    const std::string literal = kFields[i].numeric ? value : "\"" + Escaped(value, "\"\\", "\\") + "\"";
    text += ",\"" + std::string(kFields[i].name) + "\":" + literal;
  }
  return text + "}\n";
}

std::string Svg(const Summary& summary) {
  constexpr int kWidth = 760, kLeft = 130, kBarHeight = 30, kGap = 10, kChartTop = 300, kChartHeight = 220;
  constexpr int kPlotWidth = kWidth - kLeft - 40;
  const Tally& total = summary.total;
  const double starts = std::max<double>(1, static_cast<double>(total.starts));
  std::string svg = Format(
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" viewBox=\"0 0 %d %d\" "
      "font-family=\"DejaVu Sans, Liberation Sans, Arial, sans-serif\" font-size=\"13\" fill=\"%s\">\n"
      "<rect width=\"100%%\" height=\"100%%\" fill=\"#fbfbfd\"/>\n"
      "<text x=\"24\" y=\"34\" font-size=\"19\" font-weight=\"bold\">Installer runs</text>\n",
      kWidth, kChartTop + kChartHeight + 90, kWidth, kChartTop + kChartHeight + 90,
      std::string(kInk).c_str());
  // The funnel: one bar for the starts, one for each outcome, as wide as its share of the starts.
  constexpr int kFunnelWidth = kPlotWidth - 110;  // room for the figures after the widest bar
  const auto bar = [&](int row, const std::string& label, std::uint64_t count, std::string_view colour) {
    const int y = 56 + row * (kBarHeight + kGap);
    const double width = std::max(2.0, kFunnelWidth * static_cast<double>(count) / starts);
    const std::string share = row ? " (" + Percent(count, total.starts) + ")" : "";
    svg += Format(
        "<text x=\"%d\" y=\"%d\" text-anchor=\"end\">%s</text>\n"
        "<rect x=\"%d\" y=\"%d\" width=\"%.1f\" height=\"%d\" rx=\"4\" fill=\"%s\"/>\n"
        "<text x=\"%.1f\" y=\"%d\"><tspan font-weight=\"bold\">%" PRIu64 "</tspan>%s</text>\n",
        kLeft - 12, y + 20, label.c_str(), kLeft, y, width, kBarHeight, std::string(colour).c_str(),
        kLeft + width + 8, y + 20, count, share.c_str());
  };
  bar(0, "starts", total.starts, kStartsColour);
  for (std::size_t i = 0; i < kOutcomes.size(); ++i)
    bar(static_cast<int>(i) + 1, Label(kOutcomes[i]), total.Of(kOutcomes[i]), kOutcomeColours[i]);

  // The days: a column each, its outcomes stacked from the bottom.
  svg += Format("<text x=\"24\" y=\"%d\" font-size=\"16\" font-weight=\"bold\">Outcomes per day</text>\n",
                kChartTop - 20);
  std::uint64_t most = 1;
  for (const auto& [day, tally] : summary.byDay) most = std::max(most, tally.starts);
  const int bottom = kChartTop + kChartHeight;
  svg += Format("<line x1=\"%d\" y1=\"%d\" x2=\"%d\" y2=\"%d\" stroke=\"#c9ced6\"/>\n", kLeft, bottom,
                kLeft + kPlotWidth, bottom);
  svg += Format("<text x=\"%d\" y=\"%d\" text-anchor=\"end\">%" PRIu64 "</text>\n", kLeft - 12, kChartTop + 5,
                most);
  svg += Format("<text x=\"%d\" y=\"%d\" text-anchor=\"end\">0</text>\n", kLeft - 12, bottom + 5);
  const double slot = static_cast<double>(kPlotWidth) / std::max<std::size_t>(1, summary.byDay.size());
  const double column = std::max(1.0, std::min(60.0, slot * 0.7));
  const std::size_t labelEvery = std::max<std::size_t>(1, static_cast<std::size_t>(70 / slot) + 1);
  std::size_t index = 0;
  for (const auto& [day, tally] : summary.byDay) {
    const double x = kLeft + slot * static_cast<double>(index) + (slot - column) / 2;
    double y = bottom;
    for (std::size_t i = 0; i < kOutcomes.size(); ++i) {
      const double height =
          kChartHeight * static_cast<double>(tally.Of(kOutcomes[i])) / static_cast<double>(most);
      if (height <= 0) continue;
      y -= height;
      svg += Format(
          "<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" fill=\"%s\"><title>%s %s: %" PRIu64
          "</title></rect>\n",
          x, y, column, height, std::string(kOutcomeColours[i]).c_str(), day.c_str(),
          Label(kOutcomes[i]).c_str(), tally.Of(kOutcomes[i]));
    }
    if (index % labelEvery == 0)
      svg += Format("<text x=\"%.1f\" y=\"%d\" text-anchor=\"middle\" font-size=\"11\">%s</text>\n",
                    x + column / 2, bottom + 18, day.substr(5).c_str());
    ++index;
  }
  // The legend under the chart.
  for (std::size_t i = 0; i < kOutcomes.size(); ++i) {
    const int x = kLeft + static_cast<int>(i) * 140;
    svg += Format(
        "<rect x=\"%d\" y=\"%d\" width=\"14\" height=\"14\" rx=\"3\" fill=\"%s\"/>"
        "<text x=\"%d\" y=\"%d\">%s</text>\n",
        x, bottom + 40, std::string(kOutcomeColours[i]).c_str(), x + 20, bottom + 52,
        Label(kOutcomes[i]).c_str());
  }
  return svg + "</svg>\n";
}

}  // namespace brimo::funnel
