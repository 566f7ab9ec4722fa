// Publishing into real folders and reading the result back with the program's own reader.
#include <boost/filesystem/operations.hpp>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>
#include <yaml-cpp/yaml.h>

#include "LogCapture.h"
#include "app/ReleaseDocument.h"
#include "publish/Publish.h"
#include "trust/Sha512.h"

namespace brimo {
namespace {

namespace fs = boost::filesystem;

using Files = std::map<std::string, std::string>;  // name -> content

void WriteFile(const fs::path& path, const std::string& content) {
  std::ofstream out(path.string(), std::ios_base::binary | std::ios_base::trunc);
  out << content;
  out.close();
  ASSERT_TRUE(out) << path;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path.string(), std::ios_base::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Every file of a folder with its content: staging files left behind show up here too.
Files Snapshot(const fs::path& dir) {
  Files files;
  for (const fs::directory_entry& entry : fs::directory_iterator(dir))
    files[entry.path().filename().string()] =
        fs::is_directory(entry.path()) ? "(folder)" : ReadFile(entry.path());
  return files;
}

std::string DigestOf(const std::string& content) {
  Sha512 digest;
  digest.Update(content.data(), content.size());
  return EncodeBase64(digest.Finish().value());
}

class Publishing : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(source);
    fs::create_directories(release);
  }
  void TearDown() override { fs::remove_all(root_); }

  // Publishes a new installer file called name with content into the release folder.
  Published PublishFile(const std::string& name, const std::string& content, PublishOptions options = {}) {
    options.installer = source / name;
    options.releaseDir = release;
    WriteFile(options.installer, content);
    return Publish(options);
  }

  // What the program takes from the channel's document in the release folder; fails the test when it
  // cannot read it.
  ReleaseInfo ReadBack(const std::string& channel = kDefaultChannel) {
    test::LogCapture capture;
    ReleaseInfo info;
    EXPECT_TRUE(InstallerUrlFromDocument(ReadFile(release / (channel + ".yml")), "release.test", &info))
        << channel;
    EXPECT_TRUE(capture.strings().empty());
    return info;
  }

  void ExpectRefused(const std::string& name, const std::string& content, const std::string& because,
                     PublishOptions options = {}) {
    try {
      PublishFile(name, content, options);
      ADD_FAILURE() << "published " << name;
    } catch (const PublishError& e) {
      EXPECT_NE(std::string(e.what()).find(because), std::string::npos) << e.what();
    }
  }

  const fs::path root_ = fs::temp_directory_path() / fs::unique_path("brimo-publish-test-%%%%-%%%%");
  const fs::path source = root_ / "source";
  const fs::path release = root_ / "release";
};

TEST_F(Publishing, AwkwardNamesAndVersionsReachTheProgramAsWritten) {
  // One name a line: blanks, YAML indicators, quotes, non-ASCII letters, and names YAML would take
  // for a boolean, a number or null.
  std::istringstream names(
      "Quarn Brimo Setup 1.0.exe\na: b#c.exe\nx #y.exe\nit's \"quoted\".exe\n-leading.exe\n- dash\n"
      "!tag &anchor *alias\nCafé Ünïcode 日本.exe\ntrue\n1.0\nnull\n~\n? key\n[x]{y},z\n%20\\.exe\n"
      "  spaced  ");
  int i = 0;
  for (std::string name; std::getline(names, name); ++i) {
    const std::string content = "MZ " + name;
    PublishOptions options;
    options.channel = "c" + std::to_string(i);
    options.version = name;
    const Published published = PublishFile(name, content, options);
    const ReleaseInfo info = ReadBack(options.channel);
    EXPECT_EQ(info.path, name);
    EXPECT_EQ(info.sha512, DigestOf(content)) << name;
    EXPECT_EQ(ReadFile(release / info.path), content) << name;
    EXPECT_EQ(published.written,
              (std::vector<fs::path>{release / name, release / (options.channel + ".yml")}));

    // The keys the program does not read: the size as a number, the version as a string.
    const YAML::Node document = YAML::LoadFile((release / (options.channel + ".yml")).string());
    EXPECT_EQ(document.size(), 4u);
    EXPECT_EQ(document["size"].as<std::uintmax_t>(), content.size()) << name;
    EXPECT_EQ(document["version"].Tag(), "!") << name;  // quoted: never a number or null
    EXPECT_EQ(document["version"].as<std::string>(), name);
  }
  PublishFile("plain.exe", "MZ");
  EXPECT_FALSE(YAML::LoadFile((release / "latest.yml").string())["version"]);
}

TEST_F(Publishing, PublishingAgainReplacesTheDocumentWholeAndLeavesNoOtherFiles) {
  const mode_t previous = umask(077);  // the web server must read what is published all the same
  PublishFile("Setup 1.exe", "one");
  umask(previous);
  for (const char* name : {"Setup 1.exe", "latest.yml"})
    EXPECT_EQ(fs::status(release / name).permissions(), fs::perms(0644)) << name;

  struct stat first {};
  ASSERT_EQ(stat((release / "latest.yml").c_str(), &first), 0);
  PublishFile("Setup 2.exe", "two");
  // Within the same second, and of the same size: only a later time tells caches it changed.
  struct stat second {};
  ASSERT_EQ(stat((release / "latest.yml").c_str(), &second), 0);
  EXPECT_GT(second.st_mtim.tv_sec, first.st_mtim.tv_sec);
  EXPECT_EQ(ReadBack().path, "Setup 2.exe");
  EXPECT_EQ(ReadBack().sha512, DigestOf("two"));
  // Earlier installers stay for the clients that are still downloading them.
  Files expected{
      {"Setup 1.exe", "one"}, {"Setup 2.exe", "two"}, {"latest.yml", ReadFile(release / "latest.yml")}};
  EXPECT_EQ(Snapshot(release), expected);
}

TEST_F(Publishing, AnInstallerNameIsNeverReusedForOtherBytes) {
  PublishFile("Setup 1.exe", "one");
  PublishFile("Setup 2.exe", "two");
  const Files before = Snapshot(release);

  // Other bytes under a published name: refused, nothing changes.
  ExpectRefused("Setup 1.exe", "one, fixed", "already published with other bytes");
  EXPECT_EQ(Snapshot(release), before);

  // The same bytes again: the file is kept as it is and the document names it again.
  struct stat kept, after;
  ASSERT_EQ(stat((release / "Setup 1.exe").c_str(), &kept), 0);
  const Published again = PublishFile("Setup 1.exe", "one");
  EXPECT_TRUE(again.installerKept);
  EXPECT_EQ(again.written, std::vector<fs::path>{release / "latest.yml"});
  ASSERT_EQ(stat((release / "Setup 1.exe").c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, kept.st_ino);
  EXPECT_EQ(ReadBack().path, "Setup 1.exe");
  EXPECT_EQ(ReadBack().sha512, DigestOf("one"));
}

TEST_F(Publishing, AnOlderVersionNeedsTheRollbackOption) {
  PublishOptions options;
  options.version = "1.10";
  PublishFile("Setup 1.10.exe", "1.10", options);
  const Files before = Snapshot(release);

  options.version = "1.9";
  ExpectRefused("Setup 1.9.exe", "1.9", "pass --rollback", options);
  EXPECT_EQ(Snapshot(release), before);

  // The same version passes, as does text that is not dotted numbers (with a note).
  options.version = "1.10.0";
  EXPECT_TRUE(PublishFile("Setup 1.10.exe", "1.10", options).installerKept);
  options.version = "1.9-beta";
  EXPECT_EQ(PublishFile("Setup beta.exe", "beta", options).notes.size(), 1u);

  options.version = "1.10";
  PublishFile("Setup 1.10.exe", "1.10", options);
  options.version = "1.9";
  options.rollback = true;
  EXPECT_TRUE(PublishFile("Setup 1.9.exe", "1.9", options).notes.empty());
  EXPECT_EQ(ReadBack().path, "Setup 1.9.exe");

  EXPECT_EQ(CompareVersions("2", "1.99"), VersionOrder::kNewer);
  EXPECT_EQ(CompareVersions("1.0", "1"), VersionOrder::kSame);
  EXPECT_EQ(CompareVersions("1.02", "1.10"), VersionOrder::kOlder);
  EXPECT_EQ(CompareVersions("99999999999999999999.0", "1"), VersionOrder::kNewer);
  for (const char* text : {"", "1.", ".1", "1..2", "v2", "1.0 "})
    EXPECT_EQ(CompareVersions(std::string(text), "1"), VersionOrder::kUnknown) << text;
  EXPECT_EQ(CompareVersions(std::nullopt, "1"), VersionOrder::kUnknown);
}

TEST_F(Publishing, ARefusedPublishLeavesTheCurrentReleaseAsItWas) {
  PublishFile("current.exe", "current");
  const Files before = Snapshot(release);

  // "a", 170 blanks and "b" escape to 512 characters: with the terminating zero, one more than fits.
  ExpectRefused("a" + std::string(170, ' ') + "b", "long", "needs a buffer of 513 characters");
  // The emitter writes bytes that are not UTF-8 as U+FFFD; the program would ask for another file.
  ExpectRefused("bad\xFF.exe", "bad", "refusing to publish: the program would read path");
  ExpectRefused("latest.yml", "MZ", "called like the release document");
  PublishOptions badVersion;
  badVersion.version = "1.\xC3";
  ExpectRefused("v.exe", "MZ", "not UTF-8", badVersion);
  EXPECT_EQ(Snapshot(release), before);

  // One blank fewer fits exactly.
  const std::string longest = "a" + std::string(170, ' ');
  PublishFile(longest, "longest");
  EXPECT_EQ(ReadBack().path, longest);
}

TEST_F(Publishing, AFailedDocumentReplacementRemovesTheInstallerItPlaced) {
  // A folder where the document belongs cannot be replaced by a file: the installer is in place by
  // then, and is undone; one that was already published stays.
  PublishOptions stable;
  stable.channel = "stable";
  PublishFile("Setup.exe", "stable", stable);
  fs::create_directories(release / "latest.yml" / "occupied");
  const Files before = Snapshot(release);

  ExpectRefused("Setup.exe", "stable", "cannot put");
  ExpectRefused("New.exe", "new", "cannot put");
  EXPECT_EQ(Snapshot(release), before);
  EXPECT_EQ(ReadBack("stable").sha512, DigestOf("stable"));
}

TEST_F(Publishing, MissingInstallersAndUnusableFoldersAreReported) {
  PublishOptions options;
  options.releaseDir = release;
  options.installer = source / "missing.exe";
  EXPECT_THROW(Publish(options), PublishError);
  options.installer = source;
  EXPECT_THROW(Publish(options), PublishError);

  WriteFile(source / "Setup.exe", "MZ");
  options.installer = source / "Setup.exe";
  WriteFile(root_ / "file", "not a folder");
  // Tests run as root, for whom permission bits do not stop writing; /proc is a folder where even
  // root cannot create a file.
  for (const fs::path& dir :
       {root_ / "missing", root_ / "file", root_ / "file" / "below", fs::path("/proc")}) {
    options.releaseDir = dir;
    try {
      Publish(options);
      ADD_FAILURE() << "published into " << dir;
    } catch (const PublishError& e) {
      EXPECT_NE(std::string(e.what()).find(dir.string()), std::string::npos) << e.what();
    }
  }
  EXPECT_EQ(Snapshot(release), Files{});
  EXPECT_EQ(ReadFile(root_ / "file"), "not a folder");
}

TEST_F(Publishing, ASignedDocumentHoldsForTheProgramAndIsRefreshedWithANewExpiryOnly) {
  const fs::path key = root_ / "document.pem";
  ASSERT_EQ(std::system(("openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out '" +
                         key.string() + "' 2>/dev/null")
                            .c_str()),
            0);
  PublishOptions options;
  options.documentKey = DocumentKeyOptions{key.string(), {}, {}, {}};
  options.version = "1.2.0.0";
  options.expiresInDays = 3;
  const std::int64_t before = std::time(nullptr);
  const Published published = PublishFile("Setup.exe", "MZ signed", options);
  const std::string first = ReadFile(release / "latest.yml");
  ASSERT_TRUE(published.expires);
  EXPECT_GE(ParseUtcTime(*published.expires).value(), before + 3 * 24 * 3600);

  // The program built with this key and floor follows the document.
  DocumentTrust trust{{DocumentSigner(*options.documentKey).publicKey()},
                      VerifyDocumentSignature,
                      DocumentRules{kDefaultChannel, ParseFourPartVersion("1.2.0.0"), before}};
  ReleaseInfo info;
  EXPECT_TRUE(InstallerUrlFromDocument(first, "release.test", &info, &trust));
  EXPECT_EQ(info.sha512, DigestOf("MZ signed"));

  PublishOptions refresh;
  refresh.releaseDir = release;
  refresh.documentKey = options.documentKey;
  refresh.refresh = true;
  refresh.expiresInDays = 30;
  const std::optional<std::string> refreshed = Publish(refresh).expires;
  ASSERT_TRUE(refreshed);
  EXPECT_GE(ParseUtcTime(*refreshed).value(), ParseUtcTime(*published.expires).value() + 27 * 24 * 3600);
  const std::string second = ReadFile(release / "latest.yml");
  EXPECT_TRUE(InstallerUrlFromDocument(second, "release.test", nullptr, &trust));
  const auto withoutExpiry = [](const std::string& text) { return text.substr(0, text.find("expires:")); };
  EXPECT_EQ(withoutExpiry(second), withoutExpiry(first));
  EXPECT_NE(second, first);

  // Only what this key signed is re-signed: not a document without a signature, nor one altered
  // after signing (an older installer named), nor one signed by another key (a rotation publishes).
  const std::string signature = second.substr(second.rfind("# signature: "));
  const std::string forged = "path: \"Setup.exe\"\nsha512: " + DigestOf("MZ signed") + "\nsize: 9\n";
  const fs::path otherKey = root_ / "other.pem";
  ASSERT_EQ(std::system(("openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out '" +
                         otherKey.string() + "' 2>/dev/null")
                            .c_str()),
            0);
  PublishOptions rotated = refresh;
  rotated.documentKey = DocumentKeyOptions{otherKey.string(), {}, {}, {}};
  for (const auto& [text, with] :
       {std::pair{forged, refresh}, std::pair{forged + signature, refresh}, std::pair{second, rotated}}) {
    WriteFile(release / "latest.yml", text);
    try {
      Publish(with);
      ADD_FAILURE() << "refreshed " << text;
    } catch (const PublishError& e) {
      EXPECT_NE(std::string(e.what()).find("not signed by the given key"), std::string::npos) << e.what();
    }
    EXPECT_EQ(ReadFile(release / "latest.yml"), text);
  }

  // Nothing is re-signed for an installer that is no longer the one the document names.
  WriteFile(release / "Setup.exe", "MZ other");
  EXPECT_THROW(Publish(refresh), PublishError);
  EXPECT_EQ(ReadFile(release / "latest.yml"), second);
}

TEST(PublishCommandLine, OptionsAndOperands) {
  const PublishOptions defaults = ParseCommandLine({"Setup.exe", "release"});
  EXPECT_EQ(defaults.channel, "latest");
  EXPECT_FALSE(defaults.version || defaults.publisher || defaults.caFile || defaults.rollback);

  const PublishOptions all =
      ParseCommandLine({"--channel", "beta-2", "--version", "--1.0", "--publisher", "Q Ltd", "--ca-file",
                        "root.pem", "--rollback", "--", "-Setup.exe", "release"});
  EXPECT_TRUE(all.rollback);
  EXPECT_EQ(all.channel, "beta-2");
  EXPECT_EQ(all.version, "--1.0");
  EXPECT_EQ(all.publisher, "Q Ltd");
  EXPECT_EQ(all.caFile, fs::path("root.pem"));
  EXPECT_EQ(all.installer, "-Setup.exe");

  using Args = std::vector<std::string>;
  for (const Args& bad :
       {Args{"Setup.exe"}, Args{"Setup.exe", "release", "more"}, Args{"--verbose", "x", "S", "r"},
        Args{"S", "r", "--channel"}, Args{"--ca-file", "root.pem", "S", "r"}, Args{"--channel", "", "S", "r"},
        Args{"--channel", ".hidden", "S", "r"}, Args{"--channel", "../latest", "S", "r"},
        Args{"--refresh", "r"}, Args{"--document-key", "k.pem", "--refresh", "S", "r"},
        Args{"--document-key", "k.pem", "--pin", "1234", "S", "r"}, Args{"--pin-env", "PIN", "S", "r"},
        Args{"--document-key", "k.pem", "--expires-in", "0", "S", "r"},
        Args{"--document-key", "k.pem", "--expires-in", "367", "S", "r"}})
    EXPECT_THROW(ParseCommandLine(bad), UsageError) << ::testing::PrintToString(bad);
}

}  // namespace
}  // namespace brimo
