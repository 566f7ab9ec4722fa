#include <windows.h>

#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include "platform/DebugLog.h"
#include "trust/CertificateChain_win.h"
#include "trust/InstallerSignature.h"
#include "trust/TimeStamp_win.h"

namespace brimo {

namespace {

// One WinVerifyTrust verification of the held file, whose state stays open for reading the signer
// until this ends. It keeps its own copy of the path, which the verification points to.
class TrustVerification {
 public:
  TrustVerification(HANDLE file, std::wstring path) : path_(std::move(path)) {
    fileInfo_.cbStruct = sizeof(fileInfo_);
    fileInfo_.pcwszFilePath = path_.c_str();
    fileInfo_.hFile = file;
    data_.cbStruct = sizeof(data_);
    data_.dwUIChoice = WTD_UI_NONE;
    // No revocation check and no network retrieval of any kind: the check must not depend on a
    // revocation server being reachable through whatever proxy the user has (a source of false
    // refusals), nor fetch anything over the network that delivered the file.
    data_.fdwRevocationChecks = WTD_REVOKE_NONE;
    data_.dwProvFlags = WTD_REVOCATION_CHECK_NONE | WTD_CACHE_ONLY_URL_RETRIEVAL;
    data_.dwUnionChoice = WTD_CHOICE_FILE;
    data_.pFile = &fileInfo_;
    data_.dwStateAction = WTD_STATEACTION_VERIFY;
    result_ = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action_, &data_);
  }
  ~TrustVerification() {
    data_.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action_, &data_);
  }
  TrustVerification(const TrustVerification&) = delete;
  TrustVerification& operator=(const TrustVerification&) = delete;

  LONG result() const { return result_; }
  CRYPT_PROVIDER_SGNR* Signer() const {
    CRYPT_PROVIDER_DATA* provider = WTHelperProvDataFromStateData(data_.hWVTStateData);
    return provider ? WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
  }

 private:
  std::wstring path_;
  GUID action_ = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  WINTRUST_FILE_INFO fileInfo_{};
  WINTRUST_DATA data_{};
  LONG result_ = 0;
};

}  // namespace

std::optional<std::wstring> InstallerSignatureRefusal(const InstallerFile& file,
                                                      const std::wstring& publisher) {
  // Without the held handle the verification would open the file by its path, which is not the check
  // of the file that will run.
  const HANDLE held = static_cast<HANDLE>(file.NativeHandle());
  if (!held) return Failure(L"installer file not held", ERROR_INVALID_HANDLE);
  const TrustVerification verification(held, file.Path().wstring());
  if (verification.result() != 0)
    return Failure(L"no valid signature", static_cast<DWORD>(verification.result()));
  // Where WinVerifyTrust leaves the chain unchecked (Wine, for SHA-256 certificates), these make
  // the check real; on Windows they repeat what it did.
  const CRYPT_PROVIDER_SGNR* signer = verification.Signer();
  if (!signer || !signer->pChainContext || signer->csCertChain == 0 || !signer->pasCertChain[0].pCert ||
      !signer->psSigner)
    return Failure(L"no signer", static_cast<DWORD>(TRUST_E_NOSIGNATURE));
  const PCCERT_CONTEXT certificate = signer->pasCertChain[0].pCert;

  // A sound time stamp proves the signature was made at its time: the signer's chain is evaluated
  // then, so a signature made while the certificate was valid stays valid after it expires. Without
  // one (or with one that proves nothing), the chain is evaluated now.
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  const TimeStampVerdict stamp = SignerTimeStamp(*signer->psSigner, certificate->hCertStore, now);
  if (stamp.time) {
    LogInfo(L"installer signature time-stamped at " + UtcText(*stamp.time));
  } else if (!stamp.unused.empty()) {
    LogInfo(L"installer signature time stamp not used - " + stamp.unused);
  }
  // The chain is built afresh at that time rather than taken from the verification, which may have
  // been built at another (Wine builds it at the time of any legacy countersignature, sound or not).
  const FILETIME* at = stamp.time ? &*stamp.time : nullptr;
  DWORD error = 0;
  const UniqueCertChain chain = BuildChain(certificate, certificate->hCertStore, at, nullptr, error);
  if (!chain) return Failure(L"signer's chain not trusted", error);
  if (const DWORD policyError = ChainPolicyError(CERT_CHAIN_POLICY_AUTHENTICODE, chain.get()))
    return Failure(L"signer's chain not trusted", policyError);
  if (const DWORD usageError =
          UsageChainError(certificate, certificate->hCertStore, at, szOID_PKIX_KP_CODE_SIGNING))
    return Failure(L"signer's certificate not valid for code signing", usageError);
  const std::wstring name = SimpleDisplayName(certificate);
  if (name != publisher) return L"publisher is '" + name + L"', expected '" + publisher + L"'";
  return std::nullopt;
}

}  // namespace brimo
