// Publishing a release: the installer and the channel's release document, written into the release
// folder so that the program accepts them, each file replaced atomically.
#pragma once

#include <boost/filesystem/path.hpp>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace brimo {

// The command's name, which starts every message it prints to standard error.
inline constexpr char kCommandName[] = "brimo-publish";
inline constexpr char kDefaultChannel[] = "latest";

struct PublishOptions {
  boost::filesystem::path installer;
  boost::filesystem::path releaseDir;
  std::string channel = kDefaultChannel;
  std::optional<std::string> version;
  // The simple display name the installer's Authenticode signer must have, and the trust anchor to
  // verify the signature with (the system's bundle when not given).
  std::optional<std::string> publisher;
  std::optional<boost::filesystem::path> caFile;
};

struct Published {
  std::vector<boost::filesystem::path> written;  // in the order they were put in place
  std::string path;                              // as the release document names the installer
  std::string sha512;
  std::uintmax_t size = 0;
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

// Copies the installer into the release folder under its own name, then writes the channel's release
// document naming it, once the program's own reader gives back the same path and digest. Publishers
// of the same folder take turns. Throws PublishError, after putting back what it had replaced;
// only a failure to flush the folder once the document is in place leaves the new release there.
Published Publish(const PublishOptions& options);

}  // namespace brimo
