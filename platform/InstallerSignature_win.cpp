#include <windows.h>

#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <boost/format.hpp>
#include <vector>

#include "platform/InstallerSignature.h"
#include "platform/UniqueAny_win.h"

namespace brimo {

namespace {

std::wstring Failure(const wchar_t* what, DWORD code) {
  return (boost::wformat(L"%1% (0x%2$08X)") % what % code).str();
}

// One WinVerifyTrust verification, whose state stays open for reading the signer until this ends.
class TrustVerification {
 public:
  TrustVerification(HANDLE file, const std::wstring& path) {
    fileInfo_.cbStruct = sizeof(fileInfo_);
    fileInfo_.pcwszFilePath = path.c_str();
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
  GUID action_ = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  WINTRUST_FILE_INFO fileInfo_{};
  WINTRUST_DATA data_{};
  LONG result_ = 0;
};

// The policy's verdict on a chain: 0 when it holds, else its error (or the call's own).
DWORD ChainPolicyError(LPCSTR policy, PCCERT_CHAIN_CONTEXT chain) {
  CERT_CHAIN_POLICY_PARA para{};
  para.cbSize = sizeof(para);
  CERT_CHAIN_POLICY_STATUS status{};
  status.cbSize = sizeof(status);
  if (!CertVerifyCertificateChainPolicy(policy, chain, &para, &status)) return GetLastError();
  return status.dwError;
}

// A fresh chain for the signer's certificate, asked to be good for code signing now; 0 when it is.
DWORD CodeSigningChainError(PCCERT_CONTEXT certificate) {
  LPSTR usages[] = {const_cast<LPSTR>(szOID_PKIX_KP_CODE_SIGNING)};
  CERT_CHAIN_PARA para{};
  para.cbSize = sizeof(para);
  para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
  para.RequestedUsage.Usage.cUsageIdentifier = 1;
  para.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
  PCCERT_CHAIN_CONTEXT built = nullptr;
  // The signature's own store supplies the intermediates it carries.
  if (!CertGetCertificateChain(nullptr, certificate, nullptr, certificate->hCertStore, &para, 0, nullptr,
                               &built))
    return GetLastError();
  const UniqueCertChain chain(built);
  if (const DWORD error = ChainPolicyError(CERT_CHAIN_POLICY_BASE, chain.get())) return error;
  return chain.get()->TrustStatus.dwErrorStatus;
}

std::wstring SimpleDisplayName(PCCERT_CONTEXT certificate) {
  const DWORD size = CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, nullptr, 0);
  std::vector<wchar_t> name(size ? size : 1);
  CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name.data(), size);
  return name.data();
}

}  // namespace

std::optional<std::wstring> InstallerSignatureRefusal(const InstallerFile& file,
                                                      const std::wstring& publisher) {
  const TrustVerification verification(static_cast<HANDLE>(file.NativeHandle()), file.Path().wstring());
  if (verification.result() != 0)
    return Failure(L"no valid signature", static_cast<DWORD>(verification.result()));
  // Where WinVerifyTrust leaves the chain unchecked (Wine, for SHA-256 certificates), these make
  // the check real; on Windows they repeat what it did.
  const CRYPT_PROVIDER_SGNR* signer = verification.Signer();
  if (!signer || !signer->pChainContext || signer->csCertChain == 0 || !signer->pasCertChain[0].pCert)
    return Failure(L"no signer", static_cast<DWORD>(TRUST_E_NOSIGNATURE));
  if (const DWORD error = ChainPolicyError(CERT_CHAIN_POLICY_AUTHENTICODE, signer->pChainContext))
    return Failure(L"signer's chain not trusted", error);
  const PCCERT_CONTEXT certificate = signer->pasCertChain[0].pCert;
  if (const DWORD error = CodeSigningChainError(certificate))
    return Failure(L"signer's certificate not valid for code signing", error);
  const std::wstring name = SimpleDisplayName(certificate);
  if (name != publisher) return L"publisher is '" + name + L"', expected '" + publisher + L"'";
  return std::nullopt;
}

}  // namespace brimo
