// Feeds arbitrary bytes as the body of a release document to the stage that reads it, unsigned and
// as a program with a key reads it, and traps when the result breaks what the download relies on: a
// success is one escaped path segment under the release host that fits the escape buffer, a failure
// was logged and shown exactly once. The same bytes go to the signature line's splitter and the
// expiry's reader, whose results must describe the input exactly.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <sstream>
#include <string>

#include "app/DocumentSignature.h"
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

// A program with one key (id 0102030405060708) whose verifier accepts every signature, so that the
// claims behind a well-formed signature line are read too.
const brimo::DocumentTrust& Trust() {
  static const brimo::DocumentTrust trust = [] {
    brimo::DocumentTrust t;
    brimo::ReleaseKey key{};
    for (size_t i = 0; i < key.size(); ++i) key[i] = static_cast<uint8_t>(i);
    t.keys = {key};
    t.verify = [](const brimo::ReleaseKey&, std::string_view, const brimo::RawSignature&) { return true; };
    t.rules = brimo::DocumentRules{"latest", brimo::FourPartVersion{1, 2, 0, 0}, 1796083200};
    return t;
  }();
  return trust;
}

void CheckSplit(std::string_view input) {
  const std::optional<brimo::SignedDocument> split = brimo::SplitSignedDocument(input);
  if (!split) return;
  // The signed bytes are the input up to the last line, which is the signature line it reads.
  Check(input.compare(0, split->signedBytes.size(), split->signedBytes) == 0);
  Check(split->signedBytes.empty() || split->signedBytes.back() == '\n');
  Check(split->keyId.size() == brimo::kKeyIdLength);
  const std::string_view line = input.substr(split->signedBytes.size());
  Check(line.find('\n') == std::string_view::npos || line.find('\n') == line.size() - 1);
  Check(line.compare(0, sizeof(brimo::kSignatureLinePrefix) - 1, brimo::kSignatureLinePrefix) == 0);
}

void CheckUtcTime(std::string_view input) {
  const std::optional<int64_t> time = brimo::ParseUtcTime(input);
  if (time) Check(brimo::FormatUtcTime(*time) == input);
}

void CheckStage(std::string_view body, const brimo::DocumentTrust* trust) {
  events.clear();
  brimo::ReleaseInfo info;
  const std::optional<std::string> url = brimo::InstallerUrlFromDocument(body, kHost, &info, trust);

  if (!url) {
    // One box, the last thing reported, right after its error line.
    Check(events.size() >= 2 && events.back() == 'B' && events.find('B') == events.size() - 1);
    Check(events[events.size() - 2] == 'E');
    return;
  }
  Check(events.find_first_of("EB") == std::string::npos);
  const std::string prefix = std::string(kHost) + "/";
  Check(url->compare(0, prefix.size(), prefix) == 0);
  Check(url->size() < prefix.size() + kEscapeBuffer);
  for (size_t i = prefix.size(); i < url->size(); ++i)
    Check(AllowedInSegment(static_cast<unsigned char>((*url)[i])));
  // Escaping never drops characters: a segment is at least as long as the path it came from.
  Check(url->size() - prefix.size() >= info.path.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool silenced = Silence();
  (void)silenced;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  CheckStage(input, nullptr);
  CheckStage(input, &Trust());
  CheckSplit(input);
  CheckUtcTime(input);
  return 0;
}
