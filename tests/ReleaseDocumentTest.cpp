// Fetching the release document and forming the installer URL, against documents served from the
// loopback server's root directory.
#include <atomic>
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "LogCapture.h"
#include "TestServers.h"
#include "app/ReleaseDocument.h"
#include "net/WebRequest.h"
#include "platform/Product.h"

namespace brimo {
namespace {

using Lines = std::vector<std::wstring>;

const std::wstring kSending = test::InfoLine(L"sending http request for version info");
const std::wstring kNoCodeBox =
    std::wstring(L"Unable to find the latest version. Check your internet connection or contact ") +
    kSupportUrl;

std::wstring CodeBox(const std::wstring& code) {
  return L"Unable to find the latest version (code: " + code +
         L"). Check your internet connection or contact " + kSupportUrl;
}

Lines StatusFailure(int code) {
  return {kSending, test::ErrorLine(L"YAML web request error - http result code " + std::to_wstring(code))};
}

Lines YamlFailure(const std::wstring& message) {
  return {kSending, test::ErrorLine(L"YAML parser exception: " + message)};
}

// Each test publishes its documents under channel names of its own, so runs never see each other's files.
class ReleaseDocument : public ::testing::Test {
 protected:
  void TearDown() override {
    for (const std::string& file : files_) std::remove(file.c_str());
  }

  std::string Channel(const std::string& suffix = "") const {
    return std::string("rd-") + ::testing::UnitTest::GetInstance()->current_test_info()->name() + suffix;
  }

  // Writes a file into the server's root.
  void Publish(const std::string& name, const std::string& content) {
    const std::string file = test::ServerRoot() + "/" + name;
    std::ofstream out(file, std::ios_base::binary | std::ios_base::trunc);
    ASSERT_TRUE(out.is_open()) << file;
    out << content;
    out.close();
    ASSERT_TRUE(out) << file;
    files_.push_back(file);
  }

  // Publishes the document of a fresh channel and asks for it.
  std::optional<std::string> FetchDocument(const std::string& document, const std::string& suffix = "") {
    const std::string channel = Channel(suffix);
    Publish(channel + ".yml", document);
    return FetchInstallerUrl(request, host, channel);
  }

  std::optional<std::string> Succeeds(const std::string& document, const std::string& suffix = "") {
    test::LogCapture capture;
    const std::optional<std::string> url = FetchDocument(document, suffix);
    EXPECT_TRUE(url.has_value()) << document;
    EXPECT_EQ(capture.strings(), Lines{kSending}) << document;
    EXPECT_TRUE(capture.boxes().empty()) << document;
    return url;
  }

  void FailsWithYamlError(const std::string& document, const std::wstring& message,
                          const std::string& suffix = "") {
    test::LogCapture capture;
    EXPECT_EQ(FetchDocument(document, suffix), std::nullopt) << document;
    EXPECT_EQ(capture.strings(), YamlFailure(message)) << document;
    EXPECT_EQ(capture.boxes(), Lines{kNoCodeBox}) << document;
  }

  const std::string host = test::FaultHost();
  WebRequest request;

 private:
  std::vector<std::string> files_;
};

TEST_F(ReleaseDocument, ValidDocumentGivesTheInstallerUrlOnTheReleaseHost) {
  test::LogCapture capture;
  Publish(Channel(".yml"), "path: QuarnBrimoSetup-2.4.1.exe\n");
  EXPECT_EQ(FetchInstallerUrl(request, host, Channel()), host + "/QuarnBrimoSetup-2.4.1.exe");
  EXPECT_EQ(capture.strings(), Lines{kSending});
  EXPECT_TRUE(capture.boxes().empty());
}

TEST_F(ReleaseDocument, EscapedPathLeadsToThePublishedInstaller) {
  // The URL is fetched with the same request, as the installer download does after this stage.
  const std::string installer = Channel(" Setup 1.0.exe");
  Publish(installer, "MZ installer bytes");
  const std::optional<std::string> url = Succeeds("path: '" + installer + "'\n");
  ASSERT_TRUE(url.has_value());
  EXPECT_EQ(*url, host + "/" + Channel("%20Setup%201.0.exe"));
  std::ostringstream body;
  EXPECT_EQ(request.Perform(*url, body), 200);
  EXPECT_EQ(body.str(), "MZ installer bytes");
}

TEST_F(ReleaseDocument, PathIsTakenAsWrittenInTheFirstDocumentOnly) {
  EXPECT_EQ(Succeeds("path: 20240131\n", "-int"), host + "/20240131");
  EXPECT_EQ(Succeeds("path: 1.50\n", "-float"), host + "/1.50");
  EXPECT_EQ(Succeeds("path: true\n", "-bool"), host + "/true");
  EXPECT_EQ(Succeeds("path: ''\n", "-empty"), host + "/");
  EXPECT_EQ(Succeeds("path: \"Quarn Brimo Setup.exe\"\n", "-spaces"), host + "/Quarn%20Brimo%20Setup.exe");
  EXPECT_EQ(Succeeds("version: 2.4.1\npath: first.exe\nsha512: abc==\nreleaseDate: '2024-01-31'\n"
                     "---\npath: second.exe\n",
                     "-more"),
            host + "/first.exe");
  EXPECT_EQ(Succeeds("%YAML 1.2\n---\n# current release\npath: >-\n  folded.exe\n", "-directive"),
            host + "/folded.exe");
}

TEST_F(ReleaseDocument, PathIsEscapedAsOneSegmentOfTheReleaseHost) {
  for (const auto& [path, escaped] : std::vector<std::pair<std::string, std::string>>{
           {"../x.exe", "..%2Fx.exe"},
           {"http://127.0.0.1:1/evil.exe", "http:%2F%2F127.0.0.1:1%2Fevil.exe"},
           {"a?b#c&d.exe", "a%3Fb%23c%26d.exe"},
       }) {
    const std::optional<std::string> url =
        Succeeds("path: '" + path + "'\n", "-" + std::to_string(path.size()));
    ASSERT_TRUE(url.has_value());
    EXPECT_EQ(*url, host + "/" + escaped);
    EXPECT_EQ(url->find('/', host.size() + 1), std::string::npos) << *url;
  }
}

TEST_F(ReleaseDocument, EscapedPathMustFitTheBuffer) {
  // 511 characters and the terminating zero fill the 512-character buffer exactly.
  EXPECT_EQ(Succeeds("path: " + std::string(511, 'a') + "\n", "-fits"), host + "/" + std::string(511, 'a'));

  // 170 spaces and two letters escape to 512 characters: one too many. The size the escaping asks
  // for counts the terminating zero.
  test::LogCapture capture;
  EXPECT_EQ(FetchDocument("path: 'a" + std::string(170, ' ') + "b'\n", "-long"), std::nullopt);
  EXPECT_EQ(
      capture.strings(),
      (Lines{kSending, test::ErrorLine(L"UrlEscapeA call failed with result 0x80004003"),
             test::ErrorLine(
                 L"installer path too long: escaped form needs a buffer of 513 characters, it has 512")}));
  EXPECT_EQ(capture.boxes(), Lines{kNoCodeBox});
}

TEST_F(ReleaseDocument, ErrorAnswerIsReportedWithItsCodeAndNeverParsed) {
  test::LogCapture capture;
  // A 404 whose page would be a valid document; the trailing parameter takes the ".yml".
  EXPECT_EQ(FetchInstallerUrl(request, host, "status/404?body=path%3A%20x.exe&z="), std::nullopt);
  EXPECT_EQ(capture.strings(), StatusFailure(404));
  EXPECT_EQ(capture.boxes(), Lines{CodeBox(L"404")});
}

TEST_F(ReleaseDocument, MissingDocumentAndUnreachableServerAreReportedWithTheirCode) {
  {
    test::LogCapture capture;
    EXPECT_EQ(FetchInstallerUrl(request, host, Channel("-unpublished")), std::nullopt);
    EXPECT_EQ(capture.strings(), StatusFailure(404));
    EXPECT_EQ(capture.boxes(), Lines{CodeBox(L"404")});
  }
  {
    test::LogCapture capture;
    EXPECT_EQ(FetchInstallerUrl(request, test::ClosedHost(), "latest"), std::nullopt);
    EXPECT_EQ(capture.strings(), StatusFailure(0));
    EXPECT_EQ(capture.boxes(), Lines{CodeBox(L"0")});
  }
}

TEST_F(ReleaseDocument, DocumentIsTakenUpToOneMebibyte) {
  // Exactly the limit is read (and is no document); one byte more stops the transfer, however it
  // is sent. The trailing parameter takes the ".yml".
  FailsWithYamlError(std::string(kMaxDocumentBytes - 1, '#') + "\n",
                     L"invalid node; first invalid key: \"path\"");
  for (const std::string behaviour : {"bytes", "nolength", "chunked"}) {
    test::LogCapture capture;
    EXPECT_EQ(
        FetchInstallerUrl(request, host, behaviour + "/" + std::to_string(kMaxDocumentBytes + 1) + "?z="),
        std::nullopt);
    EXPECT_EQ(capture.strings(),
              (Lines{kSending, test::ErrorLine(L"release document too large - more than 1048576 bytes")}));
    EXPECT_EQ(capture.boxes(), Lines{CodeBox(L"size")});
  }
}

TEST_F(ReleaseDocument, AProgramWithKeysRefusesAnUnsignedDocument) {
  Publish(Channel(".yml"), "path: x.exe\n");
  const DocumentTrust trust{{ReleaseKey{0x04}}, [](auto&&...) { return true; }, DocumentRules{}};
  test::LogCapture capture;
  EXPECT_EQ(FetchInstallerUrl(request, host, Channel(), nullptr, &trust), std::nullopt);
  EXPECT_EQ(capture.strings(),
            (Lines{kSending, test::ErrorLine(L"release document signature check failed - no signature")}));
  EXPECT_EQ(capture.boxes(), Lines{CodeBox(L"signature")});
}

TEST_F(ReleaseDocument, CancelEndsTheRequestWithoutABox) {
  Publish(Channel(".yml"), "path: x.exe\n");
  const std::atomic<bool> cancelled{true};
  test::LogCapture capture;
  EXPECT_EQ(FetchInstallerUrl(request, host, Channel(), nullptr, nullptr, &cancelled), std::nullopt);
  EXPECT_FALSE(request.LastTransferComplete());
  EXPECT_EQ(capture.strings(),
            (Lines{kSending, test::InfoLine(L"release document request cancelled by user")}));
  EXPECT_TRUE(capture.boxes().empty());
}

TEST_F(ReleaseDocument, DocumentWithoutAScalarPathFailsWithTheLibraryMessage) {
  const std::wstring noPath = L"invalid node; first invalid key: \"path\"";
  FailsWithYamlError("", noPath, "-empty");
  FailsWithYamlError("version: 2.4.1\nPath: x.exe\n", noPath, "-case");
  FailsWithYamlError("- path\n- x.exe\n", noPath, "-sequence");
  FailsWithYamlError("~\n", noPath, "-null");
  FailsWithYamlError("2.4.1\n", L"operator[] call on a scalar (key: \"path\")", "-scalar");
  FailsWithYamlError("<html><body><h1>Welcome</h1></body></html>\n",
                     L"operator[] call on a scalar (key: \"path\")", "-html-line");
  FailsWithYamlError(
      "<!DOCTYPE html>\n<html>\n<head><title>Portal</title></head>\n<body><p>Note: sign in first</p></body>\n"
      "</html>\n",
      L"illegal map value", "-html-page");
  FailsWithYamlError("path: [x.exe\n", L"end of sequence flow not found", "-broken");
  FailsWithYamlError("path:\n  file: x.exe\n", L"bad conversion", "-mapping");
  FailsWithYamlError("path: [x.exe, y.exe]\n", L"bad conversion", "-list");
}

TEST_F(ReleaseDocument, NullPathFailsLikeAMissingOne) {
  // A key without a value names no installer; it must not turn into a file called "null".
  test::LogCapture capture;
  const std::optional<std::string> url = FetchDocument("path:\nversion: 2.4.1\n");
  EXPECT_EQ(url, std::nullopt);
  ASSERT_EQ(capture.strings().size(), 2u);
  EXPECT_EQ(capture.strings()[1].rfind(L"Quarn Brimo Installer [ERROR] YAML parser exception: ", 0), 0u)
      << capture.strings()[1];
  EXPECT_EQ(capture.boxes(), Lines{kNoCodeBox});
}

}  // namespace
}  // namespace brimo
