// Writes an nginx access log (combined format) of outcome reports and release downloads for
// brimo-funnel's benchmark: funnel_log LINES > access.log. Runs overlap as they do on a busy server
// (ten starts a second, each lasting seconds to minutes); most finish, some are cancelled, fail or
// never end, and one line in a thousand is hostile or cut short. The same seed gives the same log.
// funnel_log --forged LINES writes starts only, each with a run id, program version, channel and
// release of its own, as a hostile sender could.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <queue>
#include <random>
#include <string>
#include <vector>

#include "report/ReportFields.h"

namespace {

using brimo::report::Event;
using brimo::report::Field;
using brimo::report::FieldName;

struct Pending {
  double time;
  std::uint64_t run;
  bool operator>(const Pending& other) const { return time > other.time; }
};

std::string Pair(Field field, const std::string& value) {
  return "&" + std::string(FieldName(field)) + "=" + value;
}

// LINES forged starts within a minute: every key the funnel counts by is new.
void Forged(std::uint64_t lines) {
  for (std::uint64_t i = 0; i < lines; ++i)
    std::printf("198.51.100.9 - - [11/Dec/2026:00:00:%02d +0000] \"GET %s?%s=%s&%s=%016" PRIx64
                "&%s=1.%" PRIu64 ".%" PRIu64 ".0&%s=c%" PRIu64 "&%s=10.0.%" PRIu64
                " HTTP/1.1\" 204 0 \"-\" \"-\"\n",
                static_cast<int>(i * 60 / lines), std::string(brimo::report::kExamplePath).c_str(),
                std::string(FieldName(Field::Event)).c_str(),
                std::string(brimo::report::EventName(Event::Launched)).c_str(),
                std::string(FieldName(Field::Run)).c_str(), i, std::string(FieldName(Field::Version)).c_str(),
                i / 60000, i % 60000, std::string(FieldName(Field::Channel)).c_str(), i,
                std::string(FieldName(Field::Windows)).c_str(), i);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 2 && std::string(argv[1]) == "--forged") {
    Forged(std::strtoull(argv[2], nullptr, 10));
    return 0;
  }
  const std::uint64_t lines = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000;
  std::mt19937_64 random(23);
  std::uniform_real_distribution<double> unit(0, 1);
  std::priority_queue<Pending, std::vector<Pending>, std::greater<Pending>> ends;
  const std::time_t base = 1796947200;  // 2026-12-11 00:00:00 UTC
  std::time_t lastSecond = -1;
  char stamp[40] = "";
  const std::string prefix =
      std::string(brimo::report::kExamplePath) + "?" + std::string(FieldName(Field::Event)) + "=";
  const std::string common =
      Pair(Field::Version, "1.0.0.0") + Pair(Field::Channel, "latest") + Pair(Field::Windows, "10.0.19045");
  // Where and how the run ended, and the release's version.
  const auto ending = [](const char* stage, const char* code, const char* release) {
    return Pair(Field::Stage, stage) + Pair(Field::Code, code) +
           (*release ? Pair(Field::ReleaseVersion, release) : "");
  };
  const auto write = [&](double time, const std::string& target) {
    const std::time_t second = base + static_cast<std::time_t>(time);
    if (second != lastSecond) {
      std::tm tm{};
      gmtime_r(&second, &tm);
      std::strftime(stamp, sizeof stamp, "%d/%b/%Y:%H:%M:%S +0000", &tm);
      lastSecond = second;
    }
    std::printf("198.51.100.%d - - [%s] \"GET %s HTTP/1.1\" 204 0 \"-\" \"QuarnBrimo/1.0\"\n",
                static_cast<int>(time) % 250 + 1, stamp, target.c_str());
  };
  const auto runId = [](std::uint64_t run) {
    char text[20];
    std::snprintf(text, sizeof text, "%016" PRIx64, static_cast<std::uint64_t>(run * 0x9e3779b97f4a7c15ull));
    return std::string(text);
  };

  double now = 0;
  std::uint64_t run = 0, written = 0;
  while (written < lines) {
    if (!ends.empty() && ends.top().time <= now) {
      const Pending end = ends.top();
      ends.pop();
      const double pick = unit(random);
      const std::uint64_t bytes = 20000000 + (end.run % 7) * 1000000;
      const std::uint64_t downloadMs = 2000 + static_cast<std::uint64_t>(unit(random) * 30000);
      std::string fields = Pair(Field::Run, runId(end.run)) + common;
      Event event = Event::Finished;
      if (pick < 0.84) {
        fields += ending("launch", "0", "1.2") + Pair(Field::BytesReceived, std::to_string(bytes)) +
                  Pair(Field::BytesExpected, std::to_string(bytes)) + Pair(Field::DocumentMs, "80") +
                  Pair(Field::DownloadMs, std::to_string(downloadMs)) + Pair(Field::ChecksMs, "400") +
                  Pair(Field::InstallerMs, "3000") + Pair(Field::RunMs, std::to_string(downloadMs + 3500));
      } else if (pick < 0.92) {
        event = Event::Cancelled;
        fields += ending("download", "0", "1.2") + Pair(Field::BytesReceived, std::to_string(bytes / 3)) +
                  Pair(Field::BytesExpected, std::to_string(bytes));
      } else {
        event = Event::Failed;
        fields += pick < 0.96 ? ending("document", "404", "") : ending("install", "2", "1.2");
      }
      write(now, prefix + std::string(brimo::report::EventName(event)) + fields);
    } else if (written % 1000 == 999) {
      write(now, prefix + std::string(brimo::report::EventName(Event::Launched)) + Pair(Field::Run, "%ZZ") +
                     common);
    } else if (written % 3 == 1) {
      write(now, "/latest.yml");
    } else {
      ++run;
      write(now, prefix + std::string(brimo::report::EventName(Event::Launched)) +
                     Pair(Field::Run, runId(run)) + common);
      // One run in twenty never reports its end.
      if (unit(random) >= 0.05) ends.push({now + 5 + unit(random) * 300, run});
      now += 0.1;
    }
    ++written;
  }
  return 0;
}
