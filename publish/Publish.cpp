#include "publish/Publish.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <boost/filesystem/operations.hpp>
#include <cerrno>
#include <fstream>
#include <iterator>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <tuple>
#include <vector>
#include <yaml-cpp/yaml.h>

#include "app/ReleaseDocument.h"
#include "net/UrlEscape.h"
#include "platform/DebugLog.h"
#include "platform/ErrorBox.h"
#include "platform/TextConvert.h"
#include "publish/Authenticode.h"
#include "trust/InstallerProduct.h"
#include "trust/Sha512.h"
#include "trust/VersionResource.h"

namespace brimo {

namespace {
namespace fs = boost::filesystem;

constexpr char kChannelOption[] = "--channel";
constexpr char kVersionOption[] = "--version";
constexpr char kPublisherOption[] = "--publisher";
constexpr char kCaFileOption[] = "--ca-file";
constexpr char kRollbackOption[] = "--rollback";
constexpr char kProductOption[] = "--product";
constexpr char kMinimumVersionOption[] = "--minimum-version";
constexpr char kDocumentKeyOption[] = "--document-key";
constexpr char kPkcs11ModuleOption[] = "--pkcs11-module";
constexpr char kPinFileOption[] = "--pin-file";
constexpr char kPinEnvOption[] = "--pin-env";
constexpr char kExpiresInOption[] = "--expires-in";
constexpr char kRefreshOption[] = "--refresh";
constexpr std::int64_t kSecondsPerDay = 24 * 60 * 60;

constexpr char kSizeKey[] = "size";
constexpr char kDocumentExtension[] = ".yml";

// The read-back compares path and digest, so the URL's host does not matter.
constexpr char kReadBackHost[] = "release.invalid";
// Files on their way into the release folder, and second names of the files they replace, are called
// ".<command>-<64 random bits>".
constexpr char kStagingRandom[] = "-%%%%-%%%%-%%%%-%%%%";
constexpr mode_t kPublishedMode = 0644;  // the web server reads what is published
constexpr std::size_t kCopyChunk = 1 << 16;

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }
std::string Quoted(const fs::path& path) { return Quoted(path.string()); }

std::string ReadWhole(const fs::path& file) {
  std::ifstream in(file.string(), std::ios_base::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

[[noreturn]] void Fail(const std::string& message) { throw PublishError(message); }
// The digest's base64 text; a hash that failed stops the publish rather than name a wrong digest.
std::string DigestText(Sha512& digest) {
  const std::optional<Sha512Digest> value = digest.Finish();
  if (!value) Fail("cannot compute the SHA-512 digest");
  return EncodeBase64(*value);
}

[[noreturn]] void FailWithErrno(const std::string& message) {
  throw PublishError(message + ": " + std::generic_category().message(errno));
}

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  // Closes now, reporting what close reports.
  int Close() {
    const int result = close(fd_);
    fd_ = -1;
    return result;
  }

 private:
  int fd_;
};

fs::path StagingPath(const fs::path& dir) {
  try {
    return dir / fs::unique_path(std::string(".") + kCommandName + kStagingRandom);
  } catch (const fs::filesystem_error& e) {
    Fail(std::string("cannot make a file name: ") + e.what());
  }
}

// A new file in the release folder under a staging name; removed again unless it was renamed to its
// final name.
class StagedFile {
 public:
  explicit StagedFile(const fs::path& dir)
      : path_(StagingPath(dir)),
        fd_(open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kPublishedMode)) {
    if (fd_.get() < 0) {
      path_.clear();
      FailWithErrno("cannot write to the release folder " + Quoted(dir));
    }
  }
  ~StagedFile() {
    if (!path_.empty()) unlink(path_.c_str());
  }
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;

  void Write(const char* data, std::size_t size) {
    while (size > 0) {
      const ssize_t n = write(fd_.get(), data, size);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) FailWithErrno("cannot write " + Quoted(path_));
      data += n;
      size -= static_cast<std::size_t>(n);
    }
  }

  // Makes the content durable and readable by the web server whatever the umask, and closes the file.
  void Finish() {
    if (fchmod(fd_.get(), kPublishedMode) != 0 || fsync(fd_.get()) != 0 || fd_.Close() != 0)
      FailWithErrno("cannot write " + Quoted(path_));
  }

  // Caches revalidate a document by the validators a static server makes from its modification time
  // in whole seconds and its size: a new document of the same size written in the same second as the
  // one it replaces would look unchanged, and every cache would keep serving the old one. The new
  // one is dated at least a second after the current one.
  void DateAfter(const fs::path& current) {
    struct stat old {};
    struct stat now {};
    if (stat(current.c_str(), &old) != 0) return;
    if (fstat(fd_.get(), &now) != 0) FailWithErrno("cannot read the time of " + Quoted(path_));
    if (now.st_mtim.tv_sec > old.st_mtim.tv_sec) return;
    const struct timespec times[2] = {{0, UTIME_OMIT}, {old.st_mtim.tv_sec + 1, 0}};
    if (futimens(fd_.get(), times) != 0) FailWithErrno("cannot set the time of " + Quoted(path_));
  }

  // Puts the file in place of target in one step.
  void RenameTo(const fs::path& target) {
    if (rename(path_.c_str(), target.c_str()) != 0)
      FailWithErrno("cannot put " + Quoted(target) + " in place");
    path_.clear();
  }

  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
  FileDescriptor fd_;
};

// An installer just put in place under its final name, removed again if the publish fails after.
class PlacedInstaller {
 public:
  explicit PlacedInstaller(const fs::path& target) : target_(target) {}
  // Returns what went wrong, if anything, as text to add to the failure that caused it.
  std::string Remove() {
    if (unlink(target_.c_str()) != 0)
      return "; " + Quoted(target_) + " could not be removed: " + std::generic_category().message(errno);
    return {};
  }

 private:
  fs::path target_;
};

// The digest and size of a file already in the release folder.
std::pair<std::string, std::uintmax_t> DigestOfFile(const fs::path& path) {
  const FileDescriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) FailWithErrno("cannot read " + Quoted(path));
  Sha512 digest;
  std::uintmax_t size = 0;
  std::vector<char> buffer(kCopyChunk);
  for (;;) {
    const ssize_t n = read(file.get(), buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) FailWithErrno("cannot read " + Quoted(path));
    if (n == 0) break;
    digest.Update(buffer.data(), static_cast<std::size_t>(n));
    size += static_cast<std::uintmax_t>(n);
  }
  return {DigestText(digest), size};
}

// True when the release folder already has the installer with exactly these bytes, false when the
// name is free; refuses a name in use for other bytes, which caches may hold under that URL.
bool AlreadyPublished(const fs::path& target, const std::string& sha512, std::uintmax_t size) {
  struct stat status;
  if (lstat(target.c_str(), &status) != 0) {
    if (errno != ENOENT) FailWithErrno("cannot look at " + Quoted(target));
    return false;
  }
  if (!S_ISREG(status.st_mode) || DigestOfFile(target) != std::make_pair(sha512, size))
    Fail("refusing to publish: " + Quoted(target) +
         " is already published with other bytes; caches keep an installer by its URL, so a name is "
         "never reused: give this installer a new file name");
  return true;
}

// The version of the channel's current document: nothing when there is no document or it names no
// version; *exists says whether there is a document.
std::optional<std::string> CurrentVersion(const fs::path& document, bool* exists) {
  struct stat status;
  *exists = lstat(document.c_str(), &status) == 0;
  if (!*exists) {
    if (errno != ENOENT) FailWithErrno("cannot look at " + Quoted(document));
    return std::nullopt;
  }
  if (!S_ISREG(status.st_mode)) return std::nullopt;  // its replacement fails and says so
  try {
    const YAML::Node node = YAML::LoadFile(document.string());
    if (!node.IsMap() || !node[kVersionKey]) return std::nullopt;
    return node[kVersionKey].as<std::string>();
  } catch (const YAML::Exception& e) {
    Fail("cannot read the current release document " + Quoted(document) + ": " + e.what());
  }
}

// The numbers of a dotted version, or nothing when the text is not digits separated by single dots.
std::optional<std::vector<std::string>> DottedNumbers(const std::string& text) {
  std::vector<std::string> numbers(1);
  for (const char c : text) {
    if (c == '.')
      numbers.emplace_back();
    else if (c >= '0' && c <= '9')
      numbers.back() += c;
    else
      return std::nullopt;
  }
  for (std::string& number : numbers) {
    if (number.empty()) return std::nullopt;
    number.erase(0, std::min(number.find_first_not_of('0'), number.size() - 1));  // no leading zeros
  }
  return numbers;
}

void SyncDir(int dirFd, const fs::path& dir) {
  if (fsync(dirFd) != 0) FailWithErrno("cannot flush the release folder " + Quoted(dir));
}

// Copies all of source into the staged file; returns the digest and the size of what was copied.
std::pair<std::string, std::uintmax_t> CopyInto(int source, const fs::path& sourcePath, StagedFile& staged) {
  Sha512 digest;
  std::uintmax_t size = 0;
  std::vector<char> buffer(kCopyChunk);
  for (;;) {
    const ssize_t n = read(source, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) FailWithErrno("cannot read the installer " + Quoted(sourcePath));
    if (n == 0) break;
    digest.Update(buffer.data(), static_cast<std::size_t>(n));
    staged.Write(buffer.data(), static_cast<std::size_t>(n));
    size += static_cast<std::uintmax_t>(n);
  }
  return {DigestText(digest), size};
}

// What a signed document says beside the installer: its channel and until when it holds.
struct Dating {
  std::string channel;
  std::string expires;
};

std::string DocumentText(const std::string& path, const std::string& sha512, std::uintmax_t size,
                         const std::optional<std::string>& version, const std::optional<Dating>& dating) {
  // Double quotes keep every name a string: "1.0", "true", "~" and names with ':' or '#' alike.
  YAML::Emitter out;
  out << YAML::BeginMap;
  out << YAML::Key << kPathKey << YAML::Value << YAML::DoubleQuoted << path;
  out << YAML::Key << kDigestKey << YAML::Value << sha512;
  out << YAML::Key << kSizeKey << YAML::Value << size;
  if (version) out << YAML::Key << kVersionKey << YAML::Value << YAML::DoubleQuoted << *version;
  if (dating) {
    out << YAML::Key << kChannelKey << YAML::Value << YAML::DoubleQuoted << dating->channel;
    out << YAML::Key << kExpiresKey << YAML::Value << YAML::DoubleQuoted << dating->expires;
  }
  out << YAML::EndMap;
  if (!out.good()) Fail("cannot write the release document: " + out.GetLastError());
  return std::string(out.c_str()) + "\n";
}

// Holds what the program's reader logs and would show while the publish reads a document back.
class ReaderMessages {
 public:
  ReaderMessages() {
    SetDebugStringObserver([this](const std::wstring& text) { log_ += WideToUtf8(text); });
    SetErrorBoxObserver([](const std::wstring&) {});
  }
  ~ReaderMessages() {
    SetDebugStringObserver(nullptr);
    SetErrorBoxObserver(nullptr);
  }
  ReaderMessages(const ReaderMessages&) = delete;
  ReaderMessages& operator=(const ReaderMessages&) = delete;
  const std::string& log() const { return log_; }

 private:
  std::string log_;
};

// Refuses a document from which the program would not take exactly this path and digest.
void RequireReadBack(const std::string& text, const std::string& path, const std::string& sha512,
                     const DocumentTrust* trust) {
  ReleaseInfo info;
  const ReaderMessages messages;
  if (!InstallerUrlFromDocument(text, kReadBackHost, &info, trust))
    Fail("refusing to publish: the program cannot read the release document:\n" + messages.log());
  if (info.path != path || info.sha512 != sha512)
    Fail("refusing to publish: the program would read path " + Quoted(info.path) + " and sha512 " +
         Quoted(info.sha512.value_or("")) + ", not " + Quoted(path) + " and " + Quoted(sha512));
}

// The document as the program receives it: signed when there is a key, and checked with the rules
// of a program built with that key, the channel and the floor given.
class DocumentWriter {
 public:
  explicit DocumentWriter(const PublishOptions& options) : options_(options) {
    if (!options.documentKey) return;
    signer_.emplace(*options.documentKey);
    trust_.keys = {signer_->publicKey()};
    trust_.verify = VerifyDocumentSignature;
    trust_.rules.channel = options.channel;
    if (options.minimumVersion) trust_.rules.minimumVersion = ParseFourPartVersion(*options.minimumVersion);
  }

  // Nothing when document is signed by this writer's key; otherwise why not.
  std::optional<std::wstring> SignatureRefusal(std::string_view document) const {
    if (!signer_) return std::wstring(L"no document key");
    return brimo::SignatureRefusal(document, trust_.keys, trust_.verify, nullptr);
  }

  // The document's text; *expires is set when it is signed.
  std::string Text(const std::string& path, const std::string& sha512, std::uintmax_t size,
                   const std::optional<std::string>& version, std::optional<std::string>* expires) {
    if (!signer_) {
      const std::string text = DocumentText(path, sha512, size, version, std::nullopt);
      RequireReadBack(text, path, sha512, nullptr);
      return text;
    }
    trust_.rules.now = static_cast<std::int64_t>(std::time(nullptr));
    const Dating dating{options_.channel,
                        FormatUtcTime(trust_.rules.now + options_.expiresInDays * kSecondsPerDay)};
    *expires = dating.expires;
    std::string text = DocumentText(path, sha512, size, version, dating);
    text += SignatureLine(signer_->publicKey(), signer_->Sign(text));
    RequireReadBack(text, path, sha512, &trust_);
    return text;
  }

 private:
  const PublishOptions& options_;
  std::optional<DocumentSigner> signer_;
  DocumentTrust trust_;
};

// Puts a new document in place of the channel's current one, dated after it; placed, if any, is
// the installer this publish put in place, removed again when that fails.
void PutDocument(const std::string& text, const fs::path& target, int dirFd, const fs::path& dir,
                 const std::optional<PlacedInstaller>& placed) {
  try {
    StagedFile document(dir);
    document.Write(text.data(), text.size());
    document.DateAfter(target);
    document.Finish();
    SyncDir(dirFd, dir);
    document.RenameTo(target);
  } catch (const PublishError& e) {
    Fail(e.what() + (placed ? PlacedInstaller(*placed).Remove() : std::string()));
  }
  SyncDir(dirFd, dir);
}

// Re-signs the channel's current document with a new expiry: the same installer, digest, size and
// version, once the installer is found in the folder with that digest.
Published Refresh(const PublishOptions& options, DocumentWriter& writer, int dirFd) {
  const fs::path target = options.releaseDir / (options.channel + kDocumentExtension);
  const std::string current = ReadWhole(target);
  if (current.empty()) Fail("no release document to refresh: " + Quoted(target));
  // Only a document this key signed is re-signed: write access to the folder alone must not get an
  // older installer a new expiry. Changing keys is a publish with the new key, not a refresh.
  if (const std::optional<std::wstring> refusal = writer.SignatureRefusal(current))
    Fail("refusing to refresh " + Quoted(target) + ": it is not signed by the given key (" +
         WideToUtf8(*refusal) + "); to change keys, publish its installer anew with the new key");
  const std::optional<SignedDocument> split = SplitSignedDocument(current);
  const std::string unsigned_(split ? split->signedBytes : std::string_view(current));
  Published published;
  std::optional<std::string> version;
  try {
    const YAML::Node node = YAML::Load(unsigned_);
    published.path = node[kPathKey].as<std::string>();
    published.sha512 = node[kDigestKey].as<std::string>();
    if (node[kVersionKey]) version = node[kVersionKey].as<std::string>();
  } catch (const YAML::Exception& e) {
    Fail("cannot read the current release document " + Quoted(target) + ": " + e.what());
  }
  // Published installers lie in the release folder itself, as the program's one-segment URL finds them.
  if (published.path.empty() || published.path.find('/') != std::string::npos)
    Fail("refusing to refresh: " + Quoted(published.path) + " names no file of the release folder");
  const fs::path installer = options.releaseDir / published.path;
  const auto [digest, size] = DigestOfFile(installer);
  if (digest != published.sha512)
    Fail("refusing to refresh: " + Quoted(installer) + " does not have the digest the document names");
  published.size = size;
  PutDocument(writer.Text(published.path, published.sha512, size, version, &published.expires), target, dirFd,
              options.releaseDir, std::nullopt);
  published.written.push_back(target);
  return published;
}
}  // namespace

VersionOrder CompareVersions(const std::optional<std::string>& candidate,
                             const std::optional<std::string>& current) {
  if (!candidate || !current) return VersionOrder::kUnknown;
  const auto a = DottedNumbers(*candidate);
  const auto b = DottedNumbers(*current);
  if (!a || !b) return VersionOrder::kUnknown;
  for (std::size_t i = 0; i < std::max(a->size(), b->size()); ++i) {
    const std::string x = i < a->size() ? (*a)[i] : "0";
    const std::string y = i < b->size() ? (*b)[i] : "0";
    // Without leading zeros, a longer number is the greater one: no overflow for any length.
    if (x.size() != y.size()) return x.size() < y.size() ? VersionOrder::kOlder : VersionOrder::kNewer;
    if (x != y) return x < y ? VersionOrder::kOlder : VersionOrder::kNewer;
  }
  return VersionOrder::kSame;
}

bool IsChannelName(const std::string& channel) {
  if (channel.empty() || channel[0] == '.') return false;
  for (const char c : channel)
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
          c == '_' || c == '-'))
      return false;
  return true;
}

std::string UsageText() {
  return std::string("usage: ") + kCommandName + " [" + kChannelOption + " NAME] [" + kVersionOption +
         " TEXT] [" + kRollbackOption + "] [" + kPublisherOption + " NAME [" + kCaFileOption + " PEM] [" +
         kProductOption + " NAME] [" + kMinimumVersionOption + " A.B.C.D]] [" + kDocumentKeyOption +
         " PEM|URI [" + kPkcs11ModuleOption + " LIB] [" + kPinFileOption + " FILE|" + kPinEnvOption +
         " NAME] [" + kExpiresInOption + " DAYS]] INSTALLER RELEASE_DIR\n       " + kCommandName + " " +
         kRefreshOption + " " + kDocumentKeyOption + " PEM|URI [...] [" + kChannelOption + " NAME] [" +
         kExpiresInOption + " DAYS] RELEASE_DIR";
}

PublishOptions ParseCommandLine(const std::vector<std::string>& args) {
  PublishOptions options;
  DocumentKeyOptions key;
  std::optional<std::string> expiresIn;
  std::vector<std::string> operands;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--") {
      operands.insert(operands.end(), args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
      break;
    }
    if (arg.size() < 2 || arg[0] != '-') {
      operands.push_back(arg);
      continue;
    }
    if (arg == kRollbackOption || arg == kRefreshOption) {
      (arg == kRollbackOption ? options.rollback : options.refresh) = true;
      continue;
    }
    if (arg == "--pin" || arg == "--password")
      throw UsageError(arg + ": a PIN or password is never given on the command line (" + kPinFileOption +
                       " or " + kPinEnvOption + ")");
    if (i + 1 == args.size()) throw UsageError(arg + " needs a value");
    const std::string& value = args[++i];
    if (arg == kChannelOption)
      options.channel = value;
    else if (arg == kVersionOption)
      options.version = value;
    else if (arg == kPublisherOption)
      options.publisher = value;
    else if (arg == kCaFileOption)
      options.caFile = fs::path(value);
    else if (arg == kProductOption)
      options.product = value;
    else if (arg == kMinimumVersionOption)
      options.minimumVersion = value;
    else if (arg == kDocumentKeyOption)
      key.key = value;
    else if (arg == kPkcs11ModuleOption)
      key.pkcs11Module = value;
    else if (arg == kPinFileOption)
      key.pinFile = value;
    else if (arg == kPinEnvOption)
      key.pinEnv = value;
    else if (arg == kExpiresInOption)
      expiresIn = value;
    else
      throw UsageError("unknown option " + arg);
  }
  if (!key.key.empty()) options.documentKey = key;
  for (const auto& [option, given] :
       {std::pair{kPkcs11ModuleOption, key.pkcs11Module.has_value()},
        std::pair{kPinFileOption, key.pinFile.has_value()}, std::pair{kPinEnvOption, key.pinEnv.has_value()},
        std::pair{kExpiresInOption, expiresIn.has_value()}, std::pair{kRefreshOption, options.refresh}})
    if (given && !options.documentKey) throw UsageError(std::string(option) + " needs " + kDocumentKeyOption);
  if (key.pinFile && key.pinEnv)
    throw UsageError(std::string(kPinFileOption) + " or " + kPinEnvOption + ", not both");
  if (expiresIn) {
    const bool digits = !expiresIn->empty() && expiresIn->size() <= 3 &&
                        expiresIn->find_first_not_of("0123456789") == std::string::npos;
    options.expiresInDays = digits ? static_cast<unsigned>(std::stoul(*expiresIn)) : 0;
    if (options.expiresInDays < 1 || options.expiresInDays > kMaxExpiresInDays)
      throw UsageError(std::string(kExpiresInOption) + " takes a number of days from 1 to " +
                       std::to_string(kMaxExpiresInDays));
  }
  if (options.refresh) {
    if (options.version || options.publisher || options.rollback)
      throw UsageError(std::string(kRefreshOption) + " changes nothing but the expiry: no " + kVersionOption +
                       ", " + kPublisherOption + " or " + kRollbackOption);
    if (operands.size() != 1) throw UsageError(std::string(kRefreshOption) + " expects RELEASE_DIR only");
    options.releaseDir = operands[0];
  } else {
    if (operands.size() != 2) throw UsageError("expected INSTALLER and RELEASE_DIR");
    options.installer = operands[0];
    options.releaseDir = operands[1];
  }
  if (!IsChannelName(options.channel))
    throw UsageError("channel " + Quoted(options.channel) +
                     " is not letters, digits, '.', '_' and '-' (not starting with '.')");
  if (options.caFile && !options.publisher)
    throw UsageError(std::string(kCaFileOption) + " needs " + kPublisherOption);
  // Without a signature the version resource proves nothing, as in the program.
  for (const auto& [option, value] :
       {std::pair{kProductOption, options.product}, std::pair{kMinimumVersionOption, options.minimumVersion}})
    if (value && !options.publisher) throw UsageError(std::string(option) + " needs " + kPublisherOption);
  if (options.minimumVersion && !ParseFourPartVersion(*options.minimumVersion))
    throw UsageError(std::string(kMinimumVersionOption) + " " + Quoted(*options.minimumVersion) +
                     " is not four dotted numbers up to 65535");
  if (options.product && !DecodeUtf8(*options.product))
    throw UsageError(std::string(kProductOption) + " is not UTF-8 text");
  return options;
}

Published Publish(const PublishOptions& options) {
  if (!IsChannelName(options.channel)) Fail("channel " + Quoted(options.channel) + " cannot name a document");
  if (options.version && !DecodeUtf8(*options.version)) Fail("the version is not UTF-8 text");
  // A key that cannot sign fails before anything is written.
  DocumentWriter writer(options);
  const FileDescriptor dir(open(options.releaseDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() < 0) FailWithErrno("cannot open the release folder " + Quoted(options.releaseDir));
  if (flock(dir.get(), LOCK_EX) != 0)
    FailWithErrno("cannot lock the release folder " + Quoted(options.releaseDir));
  if (options.refresh) return Refresh(options, writer, dir.get());

  const std::string name = options.installer.filename().string();
  const std::string documentName = options.channel + kDocumentExtension;
  if (name == documentName) Fail("the installer cannot be called like the release document " + Quoted(name));
  // The same rule as the program's: a path whose escaped form does not fit its buffer is refused.
  const SegmentEscape escaped = EscapePathSegment(name);
  if (escaped.length >= kEscapeBufferSize)
    Fail("the installer name " + Quoted(name) +
         " is too long for the program: its escaped form needs a buffer of " +
         std::to_string(escaped.length) + " characters, the program's has " +
         std::to_string(kEscapeBufferSize));

  const FileDescriptor source(open(options.installer.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat sourceStatus;
  if (source.get() < 0 || fstat(source.get(), &sourceStatus) != 0)
    FailWithErrno("cannot read the installer " + Quoted(options.installer));
  if (!S_ISREG(sourceStatus.st_mode))
    Fail("the installer " + Quoted(options.installer) + " is not a regular file");

  // The copy is what gets digested, checked and put in place, whatever happens to the source meanwhile.
  StagedFile installer(options.releaseDir);
  Published published;
  published.path = name;
  std::tie(published.sha512, published.size) = CopyInto(source.get(), options.installer, installer);
  installer.Finish();
  std::optional<std::string> version = options.version;
  if (options.publisher) {
    try {
      RequireSigner(installer.path(), *options.publisher, options.caFile);
    } catch (const PublishError& e) {
      Fail("refusing to publish " + Quoted(options.installer) + ": " + e.what());
    }
    // Once the signature holds, its version resource says what the installer is.
    const std::optional<InstallerIdentity> identity = ReadVersionResource(ReadWhole(installer.path()));
    ProductRequirement requirement;
    if (options.product) requirement.product = DecodeUtf8(*options.product).value_or(L"");
    if (options.minimumVersion) requirement.minimumVersion = ParseFourPartVersion(*options.minimumVersion);
    if (const std::optional<std::wstring> refusal = ProductRefusal(identity, requirement))
      Fail("refusing to publish " + Quoted(options.installer) + ": installer product check failed - " +
           WideToUtf8(*refusal));
    if (!version && identity) {
      version = WideToUtf8(FormatFourPartVersion(identity->productVersion));
      published.notes.push_back("version " + Quoted(*version) +
                                " taken from the installer's version resource");
    }
  }
  const fs::path installerTarget = options.releaseDir / name;
  const fs::path documentTarget = options.releaseDir / documentName;
  published.installerKept = AlreadyPublished(installerTarget, published.sha512, published.size);
  bool documentExists = false;
  const std::optional<std::string> current = CurrentVersion(documentTarget, &documentExists);
  const VersionOrder order = CompareVersions(version, current);
  if (order == VersionOrder::kOlder && !options.rollback)
    Fail("refusing to publish version " + Quoted(*version) + ": channel " + Quoted(options.channel) +
         " is at " + Quoted(*current) + "; pass " + kRollbackOption + " to go back deliberately");
  if (order == VersionOrder::kUnknown && documentExists)
    published.notes.push_back("version " + (version ? Quoted(*version) : "(none)") +
                              " and the channel's current " + (current ? Quoted(*current) : "(none)") +
                              " do not compare as dotted numbers; publishing without a rollback check");
  const std::string text = writer.Text(name, published.sha512, published.size, version, &published.expires);

  // The installer first and the document last: a client that reads the document in between gets the
  // old one, which still names an installer that is there.
  std::optional<PlacedInstaller> placed;
  if (published.installerKept) {
    published.notes.push_back(Quoted(installerTarget) +
                              " is already published with these bytes; kept as it is");
  } else {
    installer.RenameTo(installerTarget);
    placed.emplace(installerTarget);
  }
  PutDocument(text, documentTarget, dir.get(), options.releaseDir, placed);
  if (!published.installerKept) published.written.push_back(installerTarget);
  published.written.push_back(documentTarget);
  return published;
}

}  // namespace brimo
