// The funnel read from hand-made access logs: exact counts, hostile and cut lines skipped, gzip input,
// files in any order and the window that joins a run's two events.
#include <stdlib.h>
#include <zlib.h>

#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "app/OutcomeReport.h"
#include "funnel/LogInput.h"
#include "funnel/LogLine.h"
#include "funnel/Output.h"

namespace brimo::funnel {
namespace {

const std::string kAgent = "\"-\" \"QuarnBrimo/1.0\"";
const std::string kRun = "r=00000000000000a";  // one hex digit short: tests add the last one
const std::string kStart = "e=zapkit_launched&c=latest&w=10.0.19045&v=";

std::string Line(const std::string& time, const std::string& target, const std::string& method = "GET") {
  return "203.0.113.7 - - [" + time + " +0000] \"" + method + " " + target + " HTTP/1.1\" 204 0 " + kAgent;
}
std::string Start(const std::string& time, char run, const std::string& version) {
  return Line(time, "/report?" + kStart + version + "&" + kRun + run);
}
std::string End(const std::string& time, char run, const std::string& event, const std::string& fields) {
  return Line(time,
              "/report?e=zapkit_" + event + "&" + kRun + run + "&v=1.0.0.0&c=latest&w=10.0.19045" + fields);
}

Summary Read(const std::vector<std::string>& lines, std::vector<Run>* runs = nullptr) {
  Funnel funnel(Options{}, [runs](const Run& run) {
    if (runs) runs->push_back(run);
  });
  for (const std::string& line : lines) funnel.Add(line);
  funnel.Finish();
  return funnel.summary();
}

TEST(Funnel, HandMadeLogGivesExactCounts) {
  const std::string bad = "/report?" + kRun + "9&";  // a run id and the fields below
  std::vector<funnel::Run> runs;
  const Summary s =
      Read({Start("10/Dec/2026:10:00:00", '1', "1.0.0.0"),
            Line("10/Dec/2026:10:00:01", "/latest.yml"),
            End("10/Dec/2026:10:00:09", '1', "finished",
                "&s=launch&k=0&rv=1.2&b=1024000&t=1024000&td=40&tl=2000&tc=90&ti=3000&tt=6000&later=1"),
            Start("10/Dec/2026:10:01:00", '2', "1.0.0.0"),
            Start("10/Dec/2026:10:01:01", '2', "1.0.0.0"),  // repeated
            End("10/Dec/2026:10:01:30", '2', "failed", "&s=digest&k=sha512&rv=1.2&b=10&t=10&tl=0"),
            Line("10/Dec/2026:10:02:00",
                 "/report?e=zapkit_launched&v=1.1.0.0&c=beta%2C1&w=10.0.19045&" + kRun + "3"),
            End("10/Dec/2026:10:02:05", '3', "cancelled", "&s=download&k=0&b=500&t=1000&tl=900"),
            Start("11/Dec/2026:09:00:00", '4', "1.1.0.0"),
            End("11/Dec/2026:09:00:02", '4', "failed", "&s=document&k=404"),
            Start("11/Dec/2026:09:30:00", '5', "1.1.0.0"),
            End("11/Dec/2026:09:30:05", 'f', "finished", ""),  // no start
            Line("11/Dec/2026:09:31:00", bad + kStart + "1.0.0.0&k=1.%G0"),
            Line("11/Dec/2026:09:31:00", bad + kStart + "1.0.0.0&k=%0A"),
            Line("11/Dec/2026:09:31:00", bad + kStart + "1.0.0.0&k=a\\x22b"),  // a quote, as nginx logs it
            Line("11/Dec/2026:09:31:00", bad + kStart + "1.0.0.0&k=" + std::string(65, 'x')),
            Line("11/Dec/2026:09:31:00", bad + kStart + "1.0.0.0&v=1.1.0.0"),
            Line("11/Dec/2026:09:31:00", "/report?e=zapkit_launched&v=1&c=latest&" + kRun + "9"),  // no w
            Line("11/Dec/2026:09:31:00", "/report?" + kStart + "1.0.0.0&r=00000000000000ag"),
            Line("11/Dec/2026:09:31:00", "/report?" + kStart + "1.0.0.0&r=00000000000000a"),
            Line("11/Dec/2026:09:31:00", "/report?e=zapkit_exploded&v=1&c=latest&w=10.0&" + kRun + "9"),
            End("11/Dec/2026:09:31:00", '9', "failed", "&s=moon&k=1"),
            End("11/Dec/2026:09:31:00", '9', "failed", "&b=12x"),
            Line("11/Dec/2026:09:31:00", "/report?" + kStart + "1.0.0.0&" + kRun + "9", "POST"),
            Start("11/Dec/2026:09:31:00", '9', "1.0.0.0").substr(0, 80),
            Start("11/Dec/2026:09:31:00", '9', "1.0.0.0").substr(0, 150),
            "hello world",
            Line("11/Dec/2026:09:31:00", "/report?" + kStart + std::string(kMaxLineLength, 'x'))},
           &runs);

  EXPECT_EQ(s.lines, 28u);
  EXPECT_EQ(s.reports, 11u);
  EXPECT_EQ(s.total.starts, 5u);
  EXPECT_EQ(s.total.Of(Outcome::Finished), 1u);
  EXPECT_EQ(s.total.Of(Outcome::Cancelled), 1u);
  EXPECT_EQ(s.total.Of(Outcome::Failed), 2u);
  EXPECT_EQ(s.total.Of(Outcome::WithoutEnd), 1u);
  EXPECT_EQ(s.openAtEnd, 1u);
  const Skipped& k = s.skipped;
  EXPECT_EQ(std::vector<std::uint64_t>({k.notReports, k.garbled, k.truncated, k.overlong, k.badQueries,
                                        k.unknownFields, k.repeatedStarts, k.endsWithoutStart}),
            std::vector<std::uint64_t>({2, 1, 2, 1, 11, 1, 1, 1}));
  using Key = std::pair<std::string, std::string>;
  EXPECT_EQ(s.failures.rows,
            (std::map<Key, std::uint64_t>{{{"digest", "sha512"}, 1}, {{"document", "404"}, 1}}));
  EXPECT_EQ(s.byVersion.rows.at("1.0.0.0").starts, 2u);
  EXPECT_EQ(s.byVersion.rows.at("1.1.0.0").Of(Outcome::WithoutEnd), 1u);
  EXPECT_EQ(s.byRelease.rows.at("1.2").starts, 2u);
  EXPECT_EQ(s.byRelease.rows.at("-").starts, 3u);
  EXPECT_EQ(s.byDay.at("2026-12-10").starts, 3u);
  EXPECT_EQ(s.byDay.at("2026-12-11").Of(Outcome::Failed), 1u);
  // Only the download that received every byte expected, in a time above zero.
  EXPECT_EQ(s.downloadMs.Count(), 1u);
  EXPECT_EQ(s.downloadMs.Percentile(0.5), 2000);
  EXPECT_EQ(s.downloadKiBps.Percentile(0.9), 500);

  ASSERT_EQ(runs.size(), 5u);
  EXPECT_EQ(
      JsonRecord(runs[0]),
      "{\"run\":\"00000000000000a1\",\"start\":\"2026-12-10T10:00:00Z\",\"end\":\"2026-12-10T10:00:09Z\","
      "\"outcome\":\"finished\",\"v\":\"1.0.0.0\",\"c\":\"latest\",\"w\":\"10.0.19045\",\"s\":\"launch\","
      "\"k\":\"0\",\"rv\":\"1.2\",\"b\":1024000,\"t\":1024000,\"td\":40,\"tl\":2000,\"tc\":90,\"ti\":3000,"
      "\"tt\":6000}\n");
  EXPECT_EQ(
      CsvRecord(runs[2]),
      "00000000000000a3,2026-12-10T10:02:00Z,2026-12-10T10:02:05Z,cancelled,1.1.0.0,\"beta,1\",10.0.19045,"
      "download,0,,500,1000,,900,,,\n");
  EXPECT_EQ(CsvHeader(), "run,start,end,outcome,v,c,w,s,k,rv,b,t,td,tl,tc,ti,tt\n");
  // Cells a spreadsheet would take for a formula are text.
  runs[2].values[static_cast<std::size_t>(report::Field::Channel)] = "=1+2";
  runs[2].values[static_cast<std::size_t>(report::Field::Code)] = "@x";
  EXPECT_EQ(CsvRecord(runs[2]).substr(69, 41), "1.1.0.0,\"'=1+2\",10.0.19045,download,\"'@x\"");
}

TEST(Funnel, EndMoreThanTheWindowAfterItsStartDoesNotJoin) {
  const Summary s = Read(
      {Start("10/Dec/2026:10:00:00", '1', "1.0.0.0"), Start("10/Dec/2026:10:00:00", '2', "1.0.0.0"),
       End("10/Dec/2026:11:00:00", '1', "finished", ""), End("10/Dec/2026:11:00:01", '2', "finished", "")});
  EXPECT_EQ(s.total.Of(Outcome::Finished), 1u);
  EXPECT_EQ(s.total.Of(Outcome::WithoutEnd), 1u);
  EXPECT_EQ(s.openAtEnd, 0u);
  EXPECT_EQ(s.skipped.endsWithoutStart, 1u);
}

TEST(Funnel, LineCutAnywhereIsNoReport) {
  const std::string line = End("10/Dec/2026:10:00:00", '1', "failed", "&s=document&k=404");
  std::vector<std::string> prefixes;
  for (std::size_t length = 1; length < line.size(); ++length) prefixes.push_back(line.substr(0, length));
  const Summary s = Read(prefixes);
  EXPECT_EQ(s.reports, 0u);
  EXPECT_EQ(s.skipped.truncated + s.skipped.garbled, line.size() - 1);
  // Whole lines as nginx writes them for another client address and a signed-in user.
  const Summary whole =
      Read({"2001:db8::7 - alice " + Start("10/Dec/2026:10:00:00", '1', "1.0.0.0").substr(16)});
  EXPECT_EQ(whole.total.starts, 1u);
}

TEST(Funnel, PercentilesAreNearestRankOfValuesRoundedToThreeDigits) {
  Distribution values;
  for (double value : {12345.0, 10.0, 9.0, 8.0, 7.0, 6.0, 5.0, 4.0, 3.0, 2.0}) values.Add(value);
  EXPECT_EQ(values.Percentile(0.5), 6);
  EXPECT_EQ(values.Percentile(0.9), 10);
  EXPECT_EQ(values.Percentile(1), 12300);
  Distribution three;  // ranks 1.5 and 2.7 round up
  for (double value : {3.0, 1.0, 2.0}) three.Add(value);
  EXPECT_EQ(three.Percentile(0.5), 2);
  EXPECT_EQ(three.Percentile(0.9), 3);
  // Rates print in plain decimal, however large.
  Summary summary;
  summary.downloadMs.Add(1500);
  summary.downloadKiBps.Add(13100);
  const std::string text = SummaryText(summary);
  EXPECT_NE(text.find("median 1.50 s,"), std::string::npos) << text;
  EXPECT_NE(text.find("median 13100 KiB/s,"), std::string::npos) << text;
}

// Values the program never sends are bad queries; the largest it sends are read.
TEST(Funnel, HostileValuesAndImpossibleDatesAreSkipped) {
  Report report;
  for (const std::string v : {"1.0", "1.0.0.0.0", "1.0.0.65536", "1.0.0.x"})
    EXPECT_EQ(ParseReportQuery(kStart + v + "&" + kRun + "1", report), QueryResult::Bad) << v;
  const std::string end = "e=zapkit_finished&" + kRun + "1&v=1.0.0.0&c=latest&w=10.0&b=";
  for (const std::string b : {"007", "9223372036854775808", "-1"})
    EXPECT_EQ(ParseReportQuery(end + b, report), QueryResult::Bad) << b;
  EXPECT_EQ(ParseReportQuery(end + "9223372036854775807", report), QueryResult::Report);
  for (const std::string time : {"31/Feb/2028:10:00:00 +0000", "29/Feb/2027:10:00:00 +0000",
                                 "10/Dec/2026:10:00:60 +0000", "10/Dec/2026:10:00:00 +9999"})
    EXPECT_EQ(ParseLogLine("203.0.113.7 - - [" + time + "] \"GET / HTTP/1.1\" 204 0 " + kAgent).kind,
              LineKind::Garbled)
        << time;
  EXPECT_EQ(ParseLogLine(Line("29/Feb/2028:10:00:00", "/")).kind, LineKind::Request);
  std::int64_t window = 0;
  EXPECT_TRUE(ParseWindow("604800", window));
  for (const char* text : {"604801", "9223372036854775808", "", "-5", "0"})
    EXPECT_FALSE(ParseWindow(text, window));
}

// Sender-chosen keys fill a table of kMaxTableRows rows, the rest count as other; the runs held open
// and the queued starts stay bounded however many starts and ends come within a window.
TEST(Funnel, ForgedStartsStayWithinBounds) {
  Options options;
  options.maxOpenRuns = 4;
  Funnel funnel(options);
  std::size_t held = 0;
  for (std::size_t i = 0; i < kMaxTableRows + 5; ++i) {
    const std::string run = "r=" + RunIdText(i + 1);
    funnel.Add(Line("10/Dec/2026:10:00:00", "/report?" + run + "&" + kStart + "1.0.0." + std::to_string(i)));
    if (i % 50)
      funnel.Add(Line("10/Dec/2026:10:00:00", "/report?e=zapkit_failed&" + run +
                                                  "&v=1.0.0.0&c=l&w=1&s=install&k=" + std::to_string(i)));
    held = std::max(held, funnel.Held());
  }
  funnel.Finish();
  const Summary& s = funnel.summary();
  EXPECT_LE(held, 3 * options.maxOpenRuns);
  EXPECT_EQ(s.total.starts, kMaxTableRows + 5);
  EXPECT_EQ(s.byVersion.rows.size(), kMaxTableRows);
  EXPECT_EQ(s.byVersion.other.starts, 5u);
  EXPECT_EQ(s.failures.rows.size() + s.failures.other, s.total.Of(Outcome::Failed));
  EXPECT_GT(s.closedEarly, 0u);
}

class FunnelFiles : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(mkdtemp(dir_), nullptr); }
  void TearDown() override {
    for (const std::string& path : written_) std::remove(path.c_str());
    rmdir(dir_);
  }
  std::string Path(const std::string& name) {
    written_.push_back(std::string(dir_) + "/" + name);
    return written_.back();
  }
  // Each text as a gzip member of its own, one after another in one file.
  std::string Gzip(const std::string& name, const std::vector<std::string>& members) {
    const std::string path = Path(name);
    for (std::size_t i = 0; i < members.size(); ++i) {
      gzFile file = gzopen(path.c_str(), i ? "ab" : "wb");
      EXPECT_EQ(gzwrite(file, members[i].data(), static_cast<unsigned>(members[i].size())),
                static_cast<int>(members[i].size()));
      gzclose(file);
    }
    return path;
  }
  std::string Plain(const std::string& name, const std::string& text) {
    const std::string path = Path(name);
    std::ofstream(path, std::ios_base::binary) << text;
    return path;
  }
  static std::string Bytes(const std::string& path) {
    std::ifstream in(path, std::ios_base::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  Summary ReadFiles(const std::vector<std::string>& paths) {
    Funnel funnel(Options{});
    ReadLogs(paths, funnel);
    return funnel.summary();
  }

 private:
  char dir_[32] = "/tmp/brimo-funnel.XXXXXX";
  std::vector<std::string> written_;
};

TEST_F(FunnelFiles, GzipMembersAndFilesInAnyOrderAreMergedByTime) {
  const std::string older = Gzip("access.log.1.gz", {Start("10/Dec/2026:10:00:00", '1', "1.0.0.0") + "\n",
                                                     Start("10/Dec/2026:10:00:05", '2', "1.0.0.0") + "\n" +
                                                         Line("10/Dec/2026:10:00:06", "/")});
  const std::string newer =
      Plain("access.log", End("10/Dec/2026:10:00:07", '1', "finished", "") + "\n" +
                              End("10/Dec/2026:10:00:08", '2', "failed", "&s=install&k=2") + "\n");
  const Summary s = ReadFiles({newer, older});
  EXPECT_EQ(s.lines, 5u);
  EXPECT_EQ(s.total.Of(Outcome::Finished), 1u);
  EXPECT_EQ(s.total.Of(Outcome::Failed), 1u);
  EXPECT_EQ(s.skipped.endsWithoutStart, 0u);
  EXPECT_TRUE(s.inputErrors.empty());
}

TEST_F(FunnelFiles, OverlongLinesAcrossReadsAndALastLineWithoutFeed) {
  const std::string start = Start("10/Dec/2026:10:00:00", '1', "1.0.0.0");
  const std::string log = Plain("access.log", start + "&x=" + std::string(600 * 1024, 'x') + "\n" + start);
  const Summary s = ReadFiles({log});
  EXPECT_EQ(s.lines, 2u);
  EXPECT_EQ(s.skipped.overlong, 1u);
  EXPECT_EQ(s.total.starts, 1u);
}

TEST_F(FunnelFiles, BadGzipNamesTheFileAndKeepsWhatCameBefore) {
  const std::string member = Start("10/Dec/2026:10:00:00", '1', "1.0.0.0") + "\n";
  const std::string good = Bytes(Gzip("good.gz", {member}));
  const std::string corrupt = Plain("corrupt.gz", good + good.substr(0, 12) + std::string(40, '\x55'));
  const std::string cut = Plain("cut.gz", good.substr(0, good.size() - 6));
  const Summary s = ReadFiles({corrupt, cut});
  EXPECT_EQ(s.total.starts, 1u);
  ASSERT_EQ(s.inputErrors.size(), 2u);
  EXPECT_EQ(s.inputErrors[0].rfind(corrupt + ": bad gzip member 2", 0), 0u) << s.inputErrors[0];
  EXPECT_EQ(s.inputErrors[1], cut + ": gzip member 1 is cut short");
}

// What the program sends, the funnel reads back field for field; a hostile release version from the
// network arrives shortened, printable and escaped, never as fields of its own.
TEST(ProgramReport, TheFunnelReadsWhatTheProgramSends) {
  const ReportContext context{RunIdText(0x9f86d081884c7d65ULL), "1.0.0.0", "latest", "10.0.19045"};
  RunRecord record;
  record.stage = "install";
  record.code = "1603";
  record.releaseVersion = "2.0&e=zapkit_finished \xc3\xa9\x01" + std::string(100, 'x');
  record.bytesReceived = record.bytesExpected = 20971520;
  record.documentMs = 85;
  record.installerMs = 0;

  Report start, end;
  ASSERT_EQ(ParseReportQuery(ReportQuery(report::Event::Launched, context, &record), start),
            QueryResult::Report);
  EXPECT_EQ(start.run, 0x9f86d081884c7d65ULL);
  EXPECT_EQ(start.Value(report::Field::Stage), "");
  ASSERT_EQ(ParseReportQuery(ReportQuery(report::Event::Failed, context, &record, 20040), end),
            QueryResult::Report);
  EXPECT_EQ(end.event, report::Event::Failed);
  EXPECT_EQ(end.run, start.run);
  EXPECT_EQ(end.Value(report::Field::Windows), "10.0.19045");
  EXPECT_EQ(end.Value(report::Field::Code), "1603");
  const std::string version = end.Value(report::Field::ReleaseVersion);
  EXPECT_EQ(version.size(), report::kMaxValueLength);
  EXPECT_EQ(version.substr(0, 24), "2.0&e=zapkit_finished ??");
  EXPECT_EQ(end.Value(report::Field::BytesExpected), "20971520");
  EXPECT_EQ(end.Value(report::Field::InstallerMs), "0");
  EXPECT_EQ(end.Value(report::Field::DownloadMs), "");  // never reached
  EXPECT_EQ(end.Value(report::Field::RunMs), "20040");
  EXPECT_EQ(end.unknownFields, 0u);
}

}  // namespace
}  // namespace brimo::funnel
