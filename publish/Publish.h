// Publishing a release: the installer and the channel's release document, written into the release
// folder so that the program accepts them, each file replaced atomically.
#pragma once

#include <boost/filesystem/path.hpp>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "publish/DocumentKey.h"

namespace brimo {

// The command's name, which starts every message it prints to standard error.
inline constexpr char kCommandName[] = "brimo-publish";
inline constexpr char kDefaultChannel[] = "latest";
inline constexpr unsigned kDefaultExpiresInDays = 7;
inline constexpr unsigned kMaxExpiresInDays = 366;

struct PublishOptions {
  boost::filesystem::path installer;
  boost::filesystem::path releaseDir;
  std::string channel = kDefaultChannel;
  std::optional<std::string> version;
  // The simple display name the installer's Authenticode signer must have, and the trust anchor to
  // verify the signature with (the system's bundle when not given).
  std::optional<std::string> publisher;
  std::optional<boost::filesystem::path> caFile;
  // With a publisher: the product name and the oldest product version the installer's signed
  // version resource must carry, as the program built with the same settings requires.
  std::optional<std::string> product;
  std::optional<std::string> minimumVersion;
  // Lets the version go back below the channel's current one, to pull a bad release.
  bool rollback = false;
  // Signs the document with this key; a signed document also names its channel and its expiry,
  // expiresInDays from now.
  std::optional<DocumentKeyOptions> documentKey;
  unsigned expiresInDays = kDefaultExpiresInDays;
  // Re-signs the channel's current document with a new expiry, changing nothing else; no installer.
  bool refresh = false;
};

struct Published {
  std::vector<boost::filesystem::path> written;  // in the order they were put in place
  std::string path;                              // as the release document names the installer
  std::string sha512;
  std::uintmax_t size = 0;
  std::optional<std::string> expires;  // when the document is signed
  bool installerKept = false;          // the release folder already had the installer with these bytes
  std::vector<std::string> notes;      // for the maker, on standard error
};

// A command line that cannot be run; its text says why.
class UsageError : public std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A refused or failed publish; its text says why. Nothing it had written is left behind.
class PublishError : public std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Reads the arguments after the command's own name. Throws UsageError.
PublishOptions ParseCommandLine(const std::vector<std::string>& args);

// The synopsis of the command line, one line without line feed.
std::string UsageText();

// A channel names "<channel>.yml" in the release folder and goes into the program's URL as it is:
// letters, digits, '.', '_' and '-', not starting with '.'.
bool IsChannelName(const std::string& channel);

// How two versions compare: dotted numbers ("1", "1.10.2") compare number by number, a missing number
// counting as 0, so "1.0" equals "1"; any other text, or none, compares as unknown.
enum class VersionOrder { kOlder, kSame, kNewer, kUnknown };
VersionOrder CompareVersions(const std::optional<std::string>& candidate,
                             const std::optional<std::string>& current);

// Copies the installer into the release folder under its own name, then writes the channel's release
// document naming it, once the program's own reader gives back the same path and digest. Publishers
// of the same folder take turns. An installer name is never reused: a file already there under that
// name is kept when it has the same bytes and refused otherwise. A version older than the channel's
// current one is refused unless options.rollback is set. Throws PublishError, after removing what it
// had put in place; only a failure to flush the folder once the document is in place leaves the new
// release there.
// With options.refresh, only the document is written again, once its signature holds with
// options.documentKey and its installer has been found in the release folder with the digest it names.
Published Publish(const PublishOptions& options);

}  // namespace brimo
