// The web request and its download progress hook against the scriptable loopback server.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <curl/curl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <stdexcept>
#include <streambuf>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "TestServers.h"
#ifdef _WIN32
#include <windows.h>

#include <wincrypt.h>
#endif
#include "net/DownloadProgress.h"
#include "net/WebRequest.h"
#ifdef _WIN32
#include "trust/ServerCertificate.h"
#endif

namespace brimo {
namespace {

using test::ClosedHost;
using test::FaultHost;
using test::PatternBytes;
using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// A stream buffer that records every write the stream hands it; a failing one takes nothing.
class RecordingBuf : public std::streambuf {
 public:
  explicit RecordingBuf(bool fail = false) : fail_(fail) {}

  int writes = 0;
  std::string data;

 protected:
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    ++writes;
    if (fail_) return 0;
    data.append(s, static_cast<std::size_t>(n));
    return n;
  }
  int_type overflow(int_type c) override {
    ++writes;
    if (fail_ || traits_type::eq_int_type(c, traits_type::eof())) return traits_type::eof();
    data.push_back(traits_type::to_char_type(c));
    return c;
  }

 private:
  bool fail_;
};

struct Fetched {
  int status;
  bool complete;
  std::string body;
};

Fetched Fetch(WebRequest& request, const std::string& url) {
  std::ostringstream out;
  const int status = request.Perform(url, out);
  return {status, request.LastTransferComplete(), out.str()};
}

Fetched Fetch(const std::string& url) {
  WebRequest request;
  return Fetch(request, url);
}

// Lets the native TLS stack accept the test server's certificate (Schannel under Wine does not
// check it at all).
void TrustTestCa(WebRequest& request) {
#ifndef _WIN32
  curl_easy_setopt(static_cast<CURL*>(request.NativeHandle()), CURLOPT_CAINFO, test::TestCaFile().c_str());
#else
  // The program checks HTTPS servers against the system's roots: the test root goes into the test
  // prefix's store.
  (void)request;
  std::ifstream file(test::TestCaFile());
  const std::string pem((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  DWORD size = 0;
  ASSERT_TRUE(
      CryptStringToBinaryA(pem.c_str(), 0, CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr));
  std::vector<BYTE> der(size);
  ASSERT_TRUE(
      CryptStringToBinaryA(pem.c_str(), 0, CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr, nullptr));
  ASSERT_TRUE(CertAddEncodedCertificateToSystemStoreA("Root", der.data(), size));
#endif
}

TEST(WebRequest, SchemeLessUrlGoesOutAsPlainHttpWithTheProductUserAgent) {
  const Fetched got = Fetch(FaultHost() + "/echo-headers");
  EXPECT_EQ(got.status, 200);
  EXPECT_TRUE(got.complete);
  EXPECT_EQ(got.body.rfind("GET /echo-headers HTTP/1.1\r\n", 0), 0u) << got.body;
  EXPECT_NE(got.body.find("\r\nUser-Agent: Quarn Brimo Installer 1.0\r\n"), std::string::npos) << got.body;
  // Neither compression nor a referrer is asked for on a first request.
  EXPECT_EQ(got.body.find("Accept-Encoding"), std::string::npos) << got.body;
  EXPECT_EQ(got.body.find("Referer"), std::string::npos) << got.body;
}

TEST(WebRequest, FollowsARedirectToHttpsAndWritesOnlyTheHttpsBody) {
  WebRequest request;
  TrustTestCa(request);
  const Fetched got = Fetch(request, FaultHost() + "/to-https/bytes/70000");
  EXPECT_EQ(got.status, 200);
  EXPECT_TRUE(got.complete) << request.LastTransferError();
  EXPECT_TRUE(got.body == PatternBytes(70000)) << "body of " << got.body.size() << " bytes";
}

#ifndef _WIN32
TEST(WebRequest, UntrustedHttpsTargetEndsAtTheRedirect) {
  // Certificate checks stay on: the TLS failure on the redirect target leaves the 301 as the answer.
  WebRequest request;
  const Fetched got = Fetch(request, FaultHost() + "/to-https/bytes/100");
  EXPECT_EQ(got.status, 301);
  EXPECT_FALSE(got.complete);
  EXPECT_TRUE(got.body.empty()) << got.body;
}
#endif

#ifdef _WIN32
// Without the check before each request, the first line of every answer checks the server, in any
// case: here, after a redirect, one whose certificate does not name the host it was reached by.
TEST(WebRequest, TheFirstLineOfEachAnswerChecksTheServerToo) {
  WebRequest request;
  CURL* h = static_cast<CURL*>(request.NativeHandle());
  curl_easy_setopt(h, CURLOPT_PREREQFUNCTION, static_cast<curl_prereq_callback>(nullptr));
  const std::string host = "wrong-host.invalid:" + test::TlsPort();
  curl_slist* resolve = curl_slist_append(nullptr, (host + ":127.0.0.1").c_str());
  curl_easy_setopt(h, CURLOPT_RESOLVE, resolve);
  const Fetched got = Fetch(request, FaultHost() + "/redirect/1?to=https://" + host + "/lower/bytes/100");
  curl_slist_free_all(resolve);
  EXPECT_EQ(got.status, 302);
  EXPECT_FALSE(got.complete);
  EXPECT_TRUE(got.body.empty()) << got.body;
}

TEST(ServerCertificate, ATlsConnectionWithoutASessionIsRefused) {
  EXPECT_EQ(ServerCertificateRefusal(nullptr, "localhost"), L"no TLS session (0x80090301)");
}
#endif

TEST(WebRequest, FollowsFiveRedirectsButNotSix) {
  WebRequest request;
  const Fetched five = Fetch(request, FaultHost() + "/redirect/5?code=301");
  EXPECT_EQ(five.status, 200);
  EXPECT_TRUE(five.complete);
  EXPECT_EQ(five.body, PatternBytes(16));

  const Fetched six = Fetch(request, FaultHost() + "/redirect/6?code=301");
  EXPECT_EQ(six.status, 301);
  EXPECT_FALSE(six.complete);

  const Fetched loop = Fetch(request, FaultHost() + "/loop");
  EXPECT_EQ(loop.status, 301);
  EXPECT_FALSE(loop.complete);
}

TEST(WebRequest, FollowedRedirectNamesThePreviousUrlAsReferer) {
  const std::string host = FaultHost();
  const Fetched got = Fetch(host + "/redirect/1?to=/echo-headers");
  EXPECT_EQ(got.status, 200);
  EXPECT_EQ(got.body.rfind("GET /echo-headers HTTP/1.1\r\n", 0), 0u) << got.body;
  EXPECT_NE(got.body.find("\r\nReferer: http://" + host + "/redirect/1?to=/echo-headers\r\n"),
            std::string::npos)
      << got.body;
}

TEST(WebRequest, FailureOnARedirectTargetReportsTheRedirectCode) {
  const std::string closedPort = ClosedHost().substr(ClosedHost().find(':') + 1);
  const Fetched got = Fetch(FaultHost() + "/to-port/" + closedPort + "/bytes/10");
  EXPECT_EQ(got.status, 302);
  EXPECT_FALSE(got.complete);
  EXPECT_TRUE(got.body.empty()) << got.body;
}

TEST(WebRequest, HttpErrorAnswersCompleteWithTheirPageInTheStream) {
  const Fetched notFound = Fetch(FaultHost() + "/status/404");
  EXPECT_EQ(notFound.status, 404);
  EXPECT_TRUE(notFound.complete);
  EXPECT_EQ(notFound.body, "<html><body><h1>404 Not Found</h1></body></html>\n");

  const Fetched unavailable = Fetch(FaultHost() + "/status/503?body=maintenance");
  EXPECT_EQ(unavailable.status, 503);
  EXPECT_EQ(unavailable.body, "maintenance");
}

TEST(WebRequest, EmptyAnswerNeverCallsTheSink) {
  WebRequest request;
  const std::pair<const char*, int> kAnswers[] = {{"/bytes/0", 200},
                                                  {"/status/200?body=", 200},
                                                  {"/nolength/0", 200},
                                                  {"/chunked/0", 200},
                                                  {"/status/204", 204}};
  for (const auto& [path, status] : kAnswers) {
    RecordingBuf buf;
    std::ostream out(&buf);
    EXPECT_EQ(request.Perform(FaultHost() + path, out), status) << path;
    EXPECT_TRUE(request.LastTransferComplete()) << path;
    EXPECT_EQ(buf.writes, 0) << path;
  }
}

TEST(WebRequest, ClosedPortGivesNoAnswerAtOnce) {
  WebRequest request;
  const auto start = Clock::now();
  const Fetched got = Fetch(request, ClosedHost() + "/bytes/10");
  EXPECT_LT(SecondsSince(start), 5.0);
  EXPECT_EQ(got.status, 0);
  EXPECT_FALSE(got.complete);
  EXPECT_TRUE(got.body.empty());
  EXPECT_NE(request.LastTransferError(), "No error");
}

TEST(WebRequest, BodyCutShortKeepsTheStatusButIsIncomplete) {
  WebRequest request;
  const Fetched got = Fetch(request, FaultHost() + "/cut/1000/500");
  EXPECT_EQ(got.status, 200);
  EXPECT_FALSE(got.complete);
  EXPECT_EQ(got.body, PatternBytes(500));
  EXPECT_FALSE(request.LastTransferError().empty());
  EXPECT_NE(request.LastTransferError(), "No error");
}

TEST(WebRequest, ChunkedAndUnsizedBodiesArriveWhole) {
  WebRequest request;
  const std::pair<const char*, std::size_t> kBodies[] = {
      {"/chunked/300000", 300000}, {"/chunked/1000?chunk=7", 1000}, {"/nolength/300000", 300000}};
  for (const auto& [path, size] : kBodies) {
    const Fetched got = Fetch(request, FaultHost() + path);
    EXPECT_EQ(got.status, 200) << path;
    EXPECT_TRUE(got.complete) << path << ": " << request.LastTransferError();
    EXPECT_TRUE(got.body == PatternBytes(size)) << path << ": " << got.body.size() << " bytes";
  }
}

TEST(WebRequest, FailingSinkStopsTheTransferAtTheFirstChunk) {
  WebRequest request;
  {
    RecordingBuf buf(/*fail=*/true);
    std::ostream out(&buf);
    EXPECT_EQ(request.Perform(FaultHost() + "/bytes/4000000", out), 200);
    EXPECT_FALSE(request.LastTransferComplete());
    EXPECT_EQ(buf.writes, 1);
  }
  {
    // A stream that throws on failure must not carry the exception through the library.
    RecordingBuf buf(/*fail=*/true);
    std::ostream out(&buf);
    out.exceptions(std::ios_base::badbit);
    EXPECT_EQ(request.Perform(FaultHost() + "/bytes/4000000", out), 200);
    EXPECT_FALSE(request.LastTransferComplete());
    EXPECT_EQ(buf.writes, 1);
  }
  {
    // The file of a download that could not be created: the slow body would take 10 s to the end.
    std::ofstream file("no-such-directory-for-brimo/installer.exe", std::ios_base::binary);
    ASSERT_FALSE(file.is_open());
    const auto start = Clock::now();
    EXPECT_EQ(request.Perform(FaultHost() + "/slow/100000/10000", file), 200);
    EXPECT_LT(SecondsSince(start), 5.0);
    EXPECT_FALSE(request.LastTransferComplete());
  }
}

TEST(WebRequest, EachPerformReportsOnlyItsOwnTransfer) {
  WebRequest request;
  std::ostringstream first, second, third;
  EXPECT_EQ(request.Perform(FaultHost() + "/bytes/10", first), 200);
  EXPECT_EQ(request.Perform(ClosedHost() + "/bytes/10", second), 0);
  EXPECT_FALSE(request.LastTransferComplete());
  EXPECT_EQ(request.Perform(FaultHost() + "/bytes/20", third), 200);
  EXPECT_TRUE(request.LastTransferComplete());
  EXPECT_EQ(request.LastTransferError(), "No error");
  EXPECT_EQ(first.str(), PatternBytes(10));
  EXPECT_TRUE(second.str().empty());
  EXPECT_EQ(third.str(), PatternBytes(20));
}

// ---- the download progress hook ---------------------------------------------------------------

constexpr double kUntouched = -1.0;
constexpr std::int64_t kSecond = 1'000'000'000;

struct ProgressFixture {
  std::atomic<bool> cancel{false};
  std::atomic<double> percent{kUntouched};
  std::atomic<double> rate{kUntouched};
  std::int64_t lastSampleTime = 0;
  std::int64_t lastSampleBytes = 0;
};

TEST(DownloadProgress, CancelAbortsAndUnknownSizesPublishNothing) {
  ProgressFixture p;
  p.lastSampleTime = 0;
  int clockCalls = 0;
  const ProgressHandler hook =
      MakeDownloadProgressHandler(p.cancel, p.percent, p.rate, p.lastSampleTime, p.lastSampleBytes, [&] {
        ++clockCalls;
        return 100 * kSecond;
      });
  EXPECT_EQ(hook(0, 0), 0);
  EXPECT_EQ(hook(0, 5000), 0);  // no Content-Length
  EXPECT_EQ(hook(5000, 0), 0);
  EXPECT_EQ(p.percent.load(), kUntouched);
  EXPECT_EQ(p.rate.load(), kUntouched);
  EXPECT_EQ(p.lastSampleTime, 0);

  p.cancel = true;
  EXPECT_EQ(hook(0, 0), 1);
  EXPECT_EQ(hook(5000, 2500), 1);
  EXPECT_EQ(p.percent.load(), kUntouched);
  EXPECT_EQ(p.rate.load(), kUntouched);
  EXPECT_EQ(clockCalls, 0);
}

TEST(DownloadProgress, RateIsSampledOnlyAfterMoreThanASecondAgainstAFreshReading) {
  ProgressFixture p;
  const std::int64_t start = 7 * kSecond;
  p.lastSampleTime = start;
  std::vector<std::int64_t> readings = {
      start + kSecond,                // exactly one second: no sample yet
      start + kSecond + kSecond / 2,  // first sample, then the fresh reading below
      start + kSecond + kSecond * 6 / 10,
      start + kSecond * 25 / 10,  // 1.05 s after the first reading, 0.95 s after the fresh one
      start + kSecond * 27 / 10,  // 1.1 s after the fresh one: second sample, then the reading below
      start + kSecond * 28 / 10,
  };
  std::size_t next = 0;
  const ProgressHandler hook =
      MakeDownloadProgressHandler(p.cancel, p.percent, p.rate, p.lastSampleTime, p.lastSampleBytes, [&] {
        EXPECT_LT(next, readings.size());
        return next < readings.size() ? readings[next++] : readings.back();
      });

  EXPECT_EQ(hook(3000, 100), 0);
  EXPECT_DOUBLE_EQ(p.percent.load(), 100.0 / 3000.0 * 100.0);
  EXPECT_EQ(p.rate.load(), kUntouched);
  EXPECT_EQ(p.lastSampleTime, start);

  EXPECT_EQ(hook(3000, 1536), 0);
  EXPECT_DOUBLE_EQ(p.percent.load(), 1536.0 / 3000.0 * 100.0);
  EXPECT_DOUBLE_EQ(p.rate.load(), 1.5 / 1.5);  // everything since the start: 1.5 KiB in 1.5 s
  EXPECT_EQ(p.lastSampleTime, readings[2]);
  EXPECT_EQ(p.lastSampleBytes, 1536);

  EXPECT_EQ(hook(3000, 2000), 0);
  EXPECT_DOUBLE_EQ(p.rate.load(), 1.0);
  EXPECT_EQ(p.lastSampleBytes, 1536);

  EXPECT_EQ(hook(3000, 3000), 0);
  EXPECT_DOUBLE_EQ(p.percent.load(), 100.0);
  EXPECT_DOUBLE_EQ(p.rate.load(), (3000.0 - 1536.0) / 1024.0 / 1.1);
  EXPECT_EQ(p.lastSampleTime, readings[5]);
  EXPECT_EQ(p.lastSampleBytes, 3000);
  EXPECT_EQ(next, readings.size());
}

TEST(DownloadProgress, UnsizedDownloadLeavesPercentAndRateAlone) {
  ProgressFixture p;
  p.lastSampleTime = SteadyNowNs() - 10 * kSecond;  // a sample would be due at once
  const ProgressHandler hook =
      MakeDownloadProgressHandler(p.cancel, p.percent, p.rate, p.lastSampleTime, p.lastSampleBytes);
  int calls = 0;
  std::int64_t largestTotal = 0;
  WebRequest request;
  request.SetProgressHandler([&](std::int64_t total, std::int64_t now) {
    ++calls;
    largestTotal = std::max(largestTotal, total);
    return hook(total, now);
  });
  const Fetched got = Fetch(request, FaultHost() + "/nolength/200000");
  EXPECT_EQ(got.status, 200);
  EXPECT_TRUE(got.complete);
  EXPECT_EQ(got.body.size(), 200000u);
  EXPECT_GT(calls, 0);
  EXPECT_EQ(largestTotal, 0);
  EXPECT_EQ(p.percent.load(), kUntouched);
  EXPECT_EQ(p.rate.load(), kUntouched);
}

TEST(DownloadProgress, CancelRequestedBeforehandStopsTheTransferAtOnce) {
  ProgressFixture p;
  p.cancel = true;
  WebRequest request;
  request.SetProgressHandler(
      MakeDownloadProgressHandler(p.cancel, p.percent, p.rate, p.lastSampleTime, p.lastSampleBytes));
  const auto start = Clock::now();
  const Fetched got = Fetch(request, FaultHost() + "/slow/100000/10000");
  EXPECT_LT(SecondsSince(start), 2.0);
  EXPECT_TRUE(got.status == 0 || got.status == 200) << got.status;
  EXPECT_FALSE(got.complete);
  EXPECT_LT(got.body.size(), 100000u);
  EXPECT_EQ(p.percent.load(), kUntouched);
}

TEST(DownloadProgress, CancelReachesAStalledTransfer) {
  ProgressFixture p;
  WebRequest request;
  request.SetProgressHandler(
      MakeDownloadProgressHandler(p.cancel, p.percent, p.rate, p.lastSampleTime, p.lastSampleBytes));
  std::thread canceller([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    p.cancel = true;
  });
  const auto start = Clock::now();
  // Headers and 1000 bytes, then silence for up to 30 s.
  const Fetched got = Fetch(request, FaultHost() + "/stall/100000/1000?cap=30");
  const double seconds = SecondsSince(start);
  canceller.join();
  EXPECT_LT(seconds, 3.0);
  EXPECT_EQ(got.status, 200);
  EXPECT_FALSE(got.complete);
  EXPECT_EQ(got.body, PatternBytes(1000));
  EXPECT_DOUBLE_EQ(p.percent.load(), 1.0);
}

TEST(DownloadProgress, SlowDownloadPublishesPercentAndARealisticRate) {
  ProgressFixture p;
  const std::int64_t started = SteadyNowNs();
  p.lastSampleTime = started;
  WebRequest request;
  request.SetProgressHandler(
      MakeDownloadProgressHandler(p.cancel, p.percent, p.rate, p.lastSampleTime, p.lastSampleBytes));
  // 48000 bytes at 32000 bytes per second: about 1.5 s, so exactly one sample falls inside.
  const Fetched got = Fetch(request, FaultHost() + "/slow/48000/32000");
  EXPECT_EQ(got.status, 200);
  EXPECT_TRUE(got.complete);
  EXPECT_EQ(got.body.size(), 48000u);
  EXPECT_DOUBLE_EQ(p.percent.load(), 100.0);
  EXPECT_GT(p.rate.load(), 15.0);  // about 31 KiB/s
  EXPECT_LT(p.rate.load(), 60.0);
  EXPECT_GT(p.lastSampleTime, started + kSecond);
  EXPECT_GT(p.lastSampleBytes, 0);
  EXPECT_LE(p.lastSampleBytes, 48000);
}

TEST(DownloadProgress, ThrowingHookAbortsInsteadOfCrossingTheLibrary) {
  WebRequest request;
  request.SetProgressHandler(
      [](std::int64_t, std::int64_t) -> int { throw std::runtime_error("hook failed"); });
  const Fetched got = Fetch(request, FaultHost() + "/bytes/100000");
  EXPECT_FALSE(got.complete);
  EXPECT_LT(got.body.size(), 100000u);
}

}  // namespace
}  // namespace brimo
