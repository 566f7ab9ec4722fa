// The outcome report's wire format: the events and the query-string fields that the program sends and
// that the maker's log reader (brimo-funnel) reads back from the report server's access log. The names
// are stable: logs written months ago are read with them.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace brimo::report {

// The start event, then one of the three end events.
enum class Event { Launched, Finished, Cancelled, Failed, Count };
inline constexpr std::array<std::string_view, static_cast<std::size_t>(Event::Count)> kEventNames = {
    "zapkit_launched", "zapkit_finished", "zapkit_cancelled", "zapkit_failed"};

// Where a run ended.
enum class Stage { Document, Download, Digest, Signature, Product, Install, Launch, Count };
inline constexpr std::array<std::string_view, static_cast<std::size_t>(Stage::Count)> kStages = {
    "document", "download", "digest", "signature", "product", "install", "launch"};

enum class Field {
  Event,           // e: an event name above
  Run,             // r: the run id, kRunIdDigits lowercase hex digits, the same in both events of a run
  Version,         // v: the program's version, four dotted numbers of 0 to 65535
  Channel,         // c: the release channel
  Windows,         // w: Windows' major.minor.build
  Stage,           // s: end only, one of kStages
  Code,            // k: end only, HTTP status, check name or the installer's exit code
  ReleaseVersion,  // rv: end only, the release document's version when it had one
  BytesReceived,   // b: end only, installer bytes received
  BytesExpected,   // t: end only, installer bytes expected
  DocumentMs,      // td: end only, ms of the release document request
  DownloadMs,      // tl: end only, ms of the installer download
  ChecksMs,        // tc: end only, ms of the digest, signature and product checks
  InstallerMs,     // ti: end only, ms the installer ran
  RunMs,           // tt: end only, ms of the whole run
  Count
};

struct FieldInfo {
  std::string_view name;
  bool numeric;   // a non-negative 64-bit number in decimal, without leading zeros
  bool required;  // in every event
};

inline constexpr std::array<FieldInfo, static_cast<std::size_t>(Field::Count)> kFields = {{
    {"e", false, true},
    {"r", false, true},
    {"v", false, true},
    {"c", false, true},
    {"w", false, true},
    {"s", false, false},
    {"k", false, false},
    {"rv", false, false},
    {"b", true, false},
    {"t", true, false},
    {"td", true, false},
    {"tl", true, false},
    {"tc", true, false},
    {"ti", true, false},
    {"tt", true, false},
}};

constexpr std::string_view FieldName(Field field) { return kFields[static_cast<std::size_t>(field)].name; }
constexpr std::string_view EventName(Event event) { return kEventNames[static_cast<std::size_t>(event)]; }
constexpr std::string_view StageName(Stage stage) { return kStages[static_cast<std::size_t>(stage)]; }

// The report URL's path on the report server, as tools/release-server and the README's nginx example
// serve it; the program's comes with its build setting.
inline constexpr std::string_view kExamplePath = "/report";

inline constexpr std::size_t kRunIdDigits = 16;
// Values are percent-escaped (%XX) in the query string; unescaped, each is printable ASCII of at most
// this many bytes. The program shortens longer texts and sends '?' for other characters.
inline constexpr std::size_t kMaxValueLength = 64;
// The digits of the largest number sent, 2^63 - 1.
inline constexpr std::size_t kMaxNumberDigits = 19;

}  // namespace brimo::report
