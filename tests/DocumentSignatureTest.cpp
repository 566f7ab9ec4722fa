// Documents signed with throwaway keys, read by the program's document stage with its rules.
#include <boost/filesystem/operations.hpp>
#include <cstdio>
#include <gtest/gtest.h>
#include <memory>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <string>
#include <vector>

#include "LogCapture.h"
#include "app/ReleaseDocument.h"
#include "platform/Product.h"
#include "publish/DocumentKey.h"

namespace brimo {
namespace {

namespace fs = boost::filesystem;

constexpr char kHost[] = "release.test";
const std::string kBody =
    "path: \"Setup.exe\"\nsha512: abc\nversion: \"1.0.0.0\"\nchannel: \"latest\"\nexpires: "
    "\"2026-12-01T00:00:00Z\"\n";
const std::int64_t kExpires = ParseUtcTime("2026-12-01T00:00:00Z").value();

// A fresh EC P-256 key in a PEM file, loaded as the publish command loads it.
std::unique_ptr<DocumentSigner> NewSigner(const fs::path& file) {
  EVP_PKEY* key = EVP_EC_gen("P-256");
  FILE* out = std::fopen(file.c_str(), "wb");
  EXPECT_TRUE(key && out && PEM_write_PrivateKey(out, key, nullptr, nullptr, 0, nullptr, nullptr) == 1);
  if (out) std::fclose(out);
  EVP_PKEY_free(key);
  return std::make_unique<DocumentSigner>(DocumentKeyOptions{file.string(), {}, {}, {}});
}

class SignedDocuments : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = fs::temp_directory_path() / fs::unique_path("brimo-doc-%%%%-%%%%");
    fs::create_directories(dir_);
    first_ = NewSigner(dir_ / "first.pem");
    second_ = NewSigner(dir_ / "second.pem");
  }
  static void TearDownTestSuite() {
    first_.reset();
    second_.reset();
    fs::remove_all(dir_);
  }

  static std::string Sign(const std::string& body, const DocumentSigner& signer = *first_) {
    return body + SignatureLine(signer.publicKey(), signer.Sign(body));
  }

  // Empty when the stage follows the document, otherwise the reason it logged; a refusal is also
  // shown with its code.
  static std::wstring Refusal(const std::string& document, DocumentRules rules = Rules(),
                              std::vector<ReleaseKey> keys = {first_->publicKey()}) {
    test::LogCapture capture;
    const DocumentTrust trust{std::move(keys), VerifyDocumentSignature, std::move(rules)};
    ReleaseInfo info;
    if (InstallerUrlFromDocument(document, kHost, &info, &trust)) {
      EXPECT_EQ(info.path, "Setup.exe");
      return L"";
    }
    EXPECT_EQ(capture.boxes(), std::vector<std::wstring>{
                                   std::wstring(L"Unable to find the latest version (code: signature). Check "
                                                L"your internet connection or contact ") +
                                   kSupportUrl});
    const std::wstring prefix = test::ErrorLine(L"release document signature check failed - ");
    const std::vector<std::wstring> lines = capture.strings();
    if (lines.size() != 1 || lines[0].rfind(prefix.substr(0, prefix.size() - 1), 0) != 0)
      return L"unexpected log";
    return lines[0].substr(prefix.size() - 1, lines[0].size() - prefix.size());
  }

  static DocumentRules Rules() { return DocumentRules{"latest", std::nullopt, kExpires - 3600}; }

  static inline fs::path dir_;
  static inline std::unique_ptr<DocumentSigner> first_;
  static inline std::unique_ptr<DocumentSigner> second_;
};

TEST_F(SignedDocuments, OnlyAnIntactSignatureByAKnownKeyIsFollowed) {
  const std::string signedDocument = Sign(kBody);
  EXPECT_EQ(Refusal(signedDocument), L"");
  // A rotation: a program with both keys follows either.
  const std::vector<ReleaseKey> both{first_->publicKey(), second_->publicKey()};
  EXPECT_EQ(Refusal(Sign(kBody, *second_), Rules(), both), L"");
  EXPECT_EQ(Refusal(Sign(kBody, *second_)), L"unknown key");
  for (const std::size_t at : {std::size_t{0}, kBody.find("1.0.0.0"), kBody.size() - 2}) {
    std::string changed = signedDocument;
    changed[at] ^= 1;
    EXPECT_EQ(Refusal(changed), L"signature does not hold") << at;
  }
  // A signature by the right key over other bytes.
  const std::string otherBody = "path: \"Setup.exe\"\n";
  EXPECT_EQ(Refusal(kBody + SignatureLine(first_->publicKey(), first_->Sign(otherBody))),
            L"signature does not hold");
  // Without keys the line is a comment, and the document reads as before.
  EXPECT_TRUE(InstallerUrlFromDocument(signedDocument, kHost, nullptr, nullptr));
}

TEST_F(SignedDocuments, ALastLineThatIsNoSignatureIsRefused) {
  const std::string signedDocument = Sign(kBody);
  const std::string line = signedDocument.substr(kBody.size());
  EXPECT_EQ(Refusal(signedDocument.substr(0, signedDocument.size() - 1)), L"");  // no final line feed
  const std::size_t id = line.find(' ', 3) + 1;
  const std::size_t base64 = line.find(' ', id) + 1;
  for (const std::string& document : {
           kBody,
           std::string(),
           signedDocument + "\n",
           signedDocument + "# more\n",
           kBody + line.substr(0, line.size() - 1) + "\r",
           kBody + line.substr(0, line.size() - 1) + "\r\r\n",
           kBody + " " + line,
           kBody + line.substr(0, id) + "ABCDEF0123456789" + line.substr(base64 - 1),
           kBody + line.substr(0, id) + line.substr(id + 1),
           kBody + line.substr(0, base64) + line.substr(base64 + 1),
           kBody + line.substr(0, base64) + "*" + line.substr(base64 + 1),
           kBody + line.substr(0, line.size() - 3) + "=\n",
       })
    EXPECT_EQ(Refusal(document), L"no signature") << document;
}

TEST_F(SignedDocuments, ADocumentSavedWithCrLfLineEndsIsReadAsSigned) {
  std::string body;
  for (const char c : kBody) body += c == '\n' ? std::string("\r\n") : std::string(1, c);
  std::string line = SignatureLine(first_->publicKey(), first_->Sign(body));
  line.insert(line.size() - 1, "\r");
  EXPECT_EQ(Refusal(body + line), L"");
  // The signature covers every byte before its line, each CR with them.
  std::string overLineFeeds = SignatureLine(first_->publicKey(), first_->Sign(kBody));
  overLineFeeds.insert(overLineFeeds.size() - 1, "\r");
  EXPECT_EQ(Refusal(body + overLineFeeds), L"signature does not hold");
  EXPECT_EQ(Refusal(kBody + overLineFeeds), L"");
}

TEST_F(SignedDocuments, ClaimsMustMatchTheProgram) {
  const auto replaced = [](const std::string& from, const std::string& to) {
    std::string body = kBody;
    body.replace(body.find(from), from.size(), to);
    return Sign(body);
  };
  // Expired, with a day's slack for clocks that run ahead: one day, no more.
  DocumentRules late = Rules();
  late.now = kExpires + 24 * 60 * 60;
  EXPECT_EQ(Refusal(Sign(kBody), late), L"");
  late.now += 1;
  EXPECT_EQ(Refusal(Sign(kBody), late), L"expired at 2026-12-01T00:00:00Z");
  EXPECT_EQ(Refusal(replaced("2026-12-01T00:00:00Z", "2026-12-01 00:00:00Z")),
            L"expiry '2026-12-01 00:00:00Z' is not a UTC time YYYY-MM-DDTHH:MM:SSZ");
  EXPECT_EQ(Refusal(replaced("expires: \"2026-12-01T00:00:00Z\"\n", "")), L"no expiry");
  // Another channel, one that merely starts with the program's, or one that the program's starts with.
  for (const std::string channel : {"beta", "latest-beta", "late"})
    EXPECT_EQ(Refusal(replaced("\"latest\"", "\"" + channel + "\"")),
              L"for channel '" + std::wstring(channel.begin(), channel.end()) + L"'");
  EXPECT_EQ(Refusal(replaced("channel: \"latest\"\n", "")), L"no channel");
  EXPECT_EQ(Refusal(replaced("sha512: abc\n", "")), L"no sha512");
  // The floor, where one is built in.
  DocumentRules floor = Rules();
  floor.minimumVersion = ParseFourPartVersion("1.2.0.0");
  EXPECT_EQ(Refusal(Sign(kBody), floor), L"version 1.0.0.0 is older than 1.2.0.0");
  EXPECT_EQ(Refusal(replaced("1.0.0.0", "1.2.0.0"), floor), L"");
  EXPECT_EQ(Refusal(replaced("1.0.0.0", "1.2"), floor), L"version '1.2' is not four dotted numbers");
  EXPECT_EQ(Refusal(replaced("version: \"1.0.0.0\"\n", ""), floor), L"no version");
  EXPECT_EQ(Refusal(replaced("version: \"1.0.0.0\"\n", "")), L"");
}

TEST(UtcTime, OnlyExactRfc3339UtcTimesOfRealDays) {
  EXPECT_EQ(ParseUtcTime("1970-01-01T00:00:00Z"), 0);
  for (const char* text : {"2028-02-29T23:59:59Z", "2026-12-01T00:00:00Z", "9999-12-31T23:59:59Z"})
    EXPECT_EQ(FormatUtcTime(ParseUtcTime(text).value()), text);
  for (const char* text : {"2027-02-29T00:00:00Z", "2026-13-01T00:00:00Z", "2026-12-00T00:00:00Z",
                           "2026-12-01T24:00:00Z", "2026-12-01T00:60:00Z", "2026-12-01T00:00:60Z",
                           "2026-12-01t00:00:00Z", "2026-12-01T00:00:00z", "2026-12-01T00:00:00+00:00",
                           "2026-12-01T00:00:00.5Z", "+026-12-01T00:00:00Z", "1399-12-31T00:00:00Z", ""})
    EXPECT_EQ(ParseUtcTime(text), std::nullopt) << text;
}

}  // namespace
}  // namespace brimo
