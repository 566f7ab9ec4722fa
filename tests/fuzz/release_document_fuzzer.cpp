// Feeds arbitrary bytes as the body of a release document to the stage that reads it, and traps when
// the result breaks what the download relies on: a success is one escaped path segment under the
// release host that fits the escape buffer, a failure was logged and shown exactly once.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <sstream>
#include <string>

#include "app/ReleaseDocument.h"
#include "platform/DebugLog.h"
#include "platform/ErrorBox.h"

namespace {

constexpr char kHost[] = "127.0.0.1:1";
constexpr size_t kEscapeBuffer = 512;

// What the stage reported during one input, in order: 'E' an error line, 'I' an info line, 'B' a box.
std::string events;

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

bool Silence() {
  brimo::SetDebugStringObserver(
      [](const std::wstring& line) { events += line.find(L" [ERROR] ") != std::wstring::npos ? 'E' : 'I'; });
  brimo::SetErrorBoxObserver([](const std::wstring&) { events += 'B'; });
  return true;
}

// The bytes an escaped segment may hold: printable ASCII other than the separators, and the bytes
// 0x80..0x9F that Windows-1252 maps above Latin-1 (all but its undefined 0x81, 0x8D, 0x8F, 0x90, 0x9D).
bool AllowedInSegment(unsigned char c) {
  if (c >= 0x80) return c <= 0x9F && c != 0x81 && c != 0x8D && c != 0x8F && c != 0x90 && c != 0x9D;
  return c > 0x20 && c < 0x7F && c != '/' && c != '?' && c != '#';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool silenced = Silence();
  (void)silenced;
  events.clear();

  const std::string_view body(reinterpret_cast<const char*>(data), size);
  brimo::ReleaseInfo info;
  const std::optional<std::string> url = brimo::InstallerUrlFromDocument(body, kHost, &info);

  if (!url) {
    // One box, the last thing reported, right after its error line.
    Check(events.size() >= 2 && events.back() == 'B' && events.find('B') == events.size() - 1);
    Check(events[events.size() - 2] == 'E');
    return 0;
  }
  Check(events.find_first_of("EB") == std::string::npos);
  const std::string prefix = std::string(kHost) + "/";
  Check(url->compare(0, prefix.size(), prefix) == 0);
  Check(url->size() < prefix.size() + kEscapeBuffer);
  for (size_t i = prefix.size(); i < url->size(); ++i)
    Check(AllowedInSegment(static_cast<unsigned char>((*url)[i])));
  // Escaping never drops characters: a segment is at least as long as the path it came from.
  Check(url->size() - prefix.size() >= info.path.size());
  return 0;
}
