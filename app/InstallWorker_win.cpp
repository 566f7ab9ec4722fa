#include <windows.h>

#include <knownfolders.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

#include <boost/filesystem/operations.hpp>
#include <boost/format.hpp>
#include <chrono>
#include <ctime>
#include <optional>

#include "InstallerPublisher.h"
#include "ReleaseKeys.h"
#include "app/InstallWorker.h"
#include "app/OutcomeReport.h"
#include "app/ReleaseDocument.h"
#include "net/DownloadProgress.h"
#include "net/WebRequest.h"
#include "platform/DebugLog.h"
#include "platform/ErrorBox.h"
#include "platform/ProcessRunner.h"
#include "platform/Product.h"
#include "platform/TempInstallerFile.h"
#include "platform/TextConvert.h"
#include "trust/EcdsaSignature_win.h"
#include "trust/InstallerFile.h"
#include "trust/InstallerProduct.h"
#include "trust/InstallerSignature.h"
#include "trust/Sha512.h"
#include "trust/VersionResource.h"
#include "ui/Window.h"

namespace brimo {

namespace {

namespace fs = boost::filesystem;

constexpr wchar_t kSilentArgument[] = L"/S";
constexpr wchar_t kAppFolder[] = L"Quarn Brimo Beta";
constexpr wchar_t kAppExecutable[] = L"Quarn Brimo Beta.exe";
constexpr wchar_t kDownloadErrorBox[] = L"Error downloading installation files (code: %1%), please contact ";
// The code of a run that found no folder it may put the installer in.
constexpr char kFolderCode[] = "folder";

// The download's box carries a status code, or what else went wrong in its place.
template <class Code>
void ReportDownloadError(const std::wstring& logMessage, const Code& code) {
  ReportError(logMessage, (boost::wformat(kDownloadErrorBox) % code).str() + kSupportUrl);
}

// Starts the freshly installed application from its folder under the 64-bit program files.
void LaunchInstalledApplication() {
  PWSTR folder = nullptr;
  if (FAILED(SHGetKnownFolderPath(FOLDERID_ProgramFilesX64, 0, nullptr, &folder))) return;
  const fs::path programFiles(folder);
  CoTaskMemFree(folder);
  LogInfo(L"attempting to launch app");
  const fs::path appFolder = programFiles / kAppFolder;
  const fs::path executable = appFolder / kAppExecutable;
  ShellExecuteW(nullptr, L"open", executable.wstring().c_str(), L"", appFolder.wstring().c_str(),
                SW_SHOWNORMAL);
}

// The release document's digest against the downloaded bytes; a mismatch, or a digest that is not
// base64 of 64 bytes, has been reported when this returns false.
bool DigestMatches(const std::string& expected, const std::optional<Sha512Digest>& actual) {
  if (!actual) {
    ReportDownloadError(L"installer digest not computed - the system's SHA-512 failed", L"sha512");
    return false;
  }
  const std::optional<Sha512Digest> published = DecodeBase64Digest(expected);
  if (published && *published == *actual) return true;
  ReportDownloadError((boost::wformat(L"installer digest mismatch - expected sha512 %1%, actual sha512 %2%") %
                       Utf8ToWide(expected, kInvalidTextFallback) % Utf8ToWide(EncodeBase64(*actual), L""))
                          .str(),
                      L"sha512");
  return false;
}

// With a publisher built in, only an installer that publisher signed is run; a refusal has been
// reported when this returns false.
bool SignatureAccepted(const InstallerFile& file) {
  if (config::kInstallerPublisher[0] == L'\0') return true;
  const std::optional<std::wstring> refusal = InstallerSignatureRefusal(file, config::kInstallerPublisher);
  if (!refusal) return true;
  ReportDownloadError(L"installer signature check failed - " + *refusal, L"signature");
  return false;
}

// With a product or a floor built in (only ever beside a publisher, whose signature has held by now),
// only that product in at least that version is run; a refusal has been reported when this returns
// false.
bool ProductAccepted(const InstallerFile& file) {
  const ProductRequirement requirement{config::kInstallerProduct,
                                       ParseFourPartVersion(config::kMinimumInstallerVersion)};
  if (requirement.product.empty() && !requirement.minimumVersion) return true;
  // Read through the handle that holds the file, as every other check of it.
  const std::optional<InstallerIdentity> identity =
      ReadVersionResource([&file](std::uint64_t offset, std::size_t count, void* out) {
        return file.ReadAt(offset, count, out);
      });
  const std::optional<std::wstring> refusal = ProductRefusal(identity, requirement);
  if (!refusal) return true;
  ReportDownloadError(L"installer product check failed - " + *refusal, L"product");
  return false;
}

std::optional<fs::path> TempInstallerPathOrReport(const InstallerParent& parent) {
  if (!parent.Path()) {
    ReportDownloadError(L"system temporary folder refused - " + parent.Failure(), kFolderCode);
    return std::nullopt;
  }
  try {
    return MakeTempInstallerPath(*parent.Path());
  } catch (const fs::filesystem_error& e) {
    ReportDownloadError(
        (boost::wformat(L"temporary installer path unavailable (code: %1%)") % FileErrorCode(e.code())).str(),
        e.code().value());
    return std::nullopt;
  }
}

// Milliseconds since start on the steady clock.
std::int64_t MsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
      .count();
}

// The stage a run has reached, for the outcome report: the last one noted is where it ended.
void Reached(RunRecord& record, report::Stage stage, std::string code = std::string()) {
  record.stage = std::string(report::StageName(stage));
  record.code = std::move(code);
}

InstallOutcome RunInstall(const std::string& releaseHost, const std::string& channel, ProgressState& state,
                          RunRecord& record) {
  WebRequest request;
  Reached(record, report::Stage::Document, kFolderCode);
  const InstallerParent parent(config::kTestFolderOwner);
  const std::optional<fs::path> installerPath = TempInstallerPathOrReport(parent);
  if (!installerPath) return InstallOutcome::Failed;
  std::int64_t lastSampleTime = SteadyNowNs();
  std::int64_t lastSampleBytes = 0;

  // With keys built in, only a document one of them signed, for this channel, not expired and not
  // below the floor, is followed.
  const DocumentTrust trust{{config::kReleaseKeys.begin(), config::kReleaseKeys.end()},
                            EcdsaP256Verifies,
                            DocumentRules{channel, ParseFourPartVersion(config::kMinimumInstallerVersion),
                                          static_cast<std::int64_t>(std::time(nullptr))}};
  ReleaseInfo release;
  auto started = std::chrono::steady_clock::now();
  const std::optional<std::string> installerUrl = FetchInstallerUrl(
      request, releaseHost, channel, &release, &trust, &state.cancelRequested, &record.code);
  record.documentMs = MsSince(started);
  if (!installerUrl) return state.cancelRequested.load() ? InstallOutcome::Cancelled : InstallOutcome::Failed;
  record.releaseVersion = release.version;

  Reached(record, report::Stage::Download, kFolderCode);
  InstallerFile installerFile(*installerPath, release.sha512.has_value(), &parent);
  if (const std::optional<std::wstring>& error = installerFile.MakeError()) {
    ReportDownloadError(L"installer folder not created (code: " + *error + L")", kFolderCode);
    return InstallOutcome::Failed;
  }
  LogInfo(L"sending http request for installer");
  ProgressHandler progress = MakeDownloadProgressHandler(state.cancelRequested, state.percent,
                                                         state.rateKiBps, lastSampleTime, lastSampleBytes);
  request.SetProgressHandler([progress, &record](std::int64_t total, std::int64_t now) {
    record.bytesExpected = total;
    record.bytesReceived = now;
    return progress(total, now);
  });
  state.phase.exchange(static_cast<std::int32_t>(InstallPhase::Downloading));
  started = std::chrono::steady_clock::now();
  const int status = request.Perform(*installerUrl, installerFile.Stream());
  const bool written = installerFile.FinishWriting();
  record.downloadMs = MsSince(started);
  record.code = std::to_string(status);

  if (state.cancelRequested.load()) {
    LogInfo(L"web request cancelled by user");
    return InstallOutcome::Cancelled;
  }
  if (status != 200) {
    ReportDownloadError((boost::wformat(L"web request error - http result code %1%") % status).str(), status);
    return InstallOutcome::Failed;
  }
  // A 200 whose body was cut short, or that could not be written whole, is no installer: never run it.
  if (!request.LastTransferComplete() || !written) {
    const std::wstring cause = !request.LastTransferComplete()
                                   ? Utf8ToWide(request.LastTransferError(), kInvalidTextFallback)
                                   : L"installer file not written whole or changed by another process";
    ReportDownloadError(kIncompleteDownloadLog + cause, status);
    return InstallOutcome::Failed;
  }
  // A download that is not the maker's is removed and never run.
  started = std::chrono::steady_clock::now();
  const bool accepted = [&] {
    Reached(record, report::Stage::Digest, "sha512");
    if (release.sha512 && !DigestMatches(*release.sha512, installerFile.Digest())) return false;
    Reached(record, report::Stage::Signature, "signature");
    if (!SignatureAccepted(installerFile)) return false;
    Reached(record, report::Stage::Product, "product");
    return ProductAccepted(installerFile);
  }();
  record.checksMs = MsSince(started);
  if (!accepted) {
    installerFile.Remove();
    return InstallOutcome::Failed;
  }
  LogInfo(L"installer download complete");

  Reached(record, report::Stage::Install);
  const std::wstring arguments = state.silent ? kSilentArgument : L"";
  state.phase.exchange(static_cast<std::int32_t>(InstallPhase::Installing));
  // The file is held until the installer process exists, then left to it.
  started = std::chrono::steady_clock::now();
  std::uint32_t exitCode = 0;
  const bool installed = RunProcess(
      *installerPath, arguments, [&installerFile] { installerFile.Release(); }, &exitCode);
  record.installerMs = MsSince(started);
  record.code = std::to_string(exitCode);
  installerFile.Remove();
  if (!installed) return InstallOutcome::Failed;
  Reached(record, report::Stage::Launch, "0");
  LaunchInstalledApplication();
  return InstallOutcome::Finished;
}

}  // namespace

void InstallWorker(const std::string& releaseHost, const std::string& channel, const Window& window,
                   ProgressState& state, RunRecord& record) {
  InstallOutcome outcome = InstallOutcome::Failed;
  try {
    outcome = RunInstall(releaseHost, channel, state, record);
  } catch (const std::exception& e) {
    // Nothing may leave the thread; an unexpected failure ends the run as failed.
    LogError(L"install worker stopped: " + Utf8ToWide(e.what(), kInvalidTextFallback));
  }
  PostMessageW(window.handle(), WM_COMMAND, static_cast<WPARAM>(outcome), 0);
}

}  // namespace brimo
