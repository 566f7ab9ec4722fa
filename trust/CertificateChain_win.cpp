#include "trust/CertificateChain_win.h"

#include <boost/format.hpp>
#include <cstring>
#include <vector>

#include "platform/DebugLog.h"

namespace brimo {

std::wstring Failure(const wchar_t* what, DWORD code) {
  return (boost::wformat(L"%1% (0x%2$08X)") % what % code).str();
}

DWORD ChainPolicyError(LPCSTR policy, PCCERT_CHAIN_CONTEXT chain, void* extra) {
  CERT_CHAIN_POLICY_PARA para{};
  para.cbSize = sizeof(para);
  para.pvExtraPolicyPara = extra;
  CERT_CHAIN_POLICY_STATUS status{};
  status.cbSize = sizeof(status);
  if (!CertVerifyCertificateChainPolicy(policy, chain, &para, &status)) return GetLastError();
  // The chain's status bits say which certificate property failed.
  if (status.dwError != 0)
    LogInfo((boost::wformat(L"certificate chain refused (0x%1$08X), chain status 0x%2$08X") % status.dwError %
             chain->TrustStatus.dwErrorStatus)
                .str());
  return status.dwError;
}

UniqueCertChain BuildChain(PCCERT_CONTEXT certificate, HCERTSTORE store, const FILETIME* time, LPCSTR usage,
                           DWORD& error) {
  LPSTR usages[] = {const_cast<LPSTR>(usage)};
  CERT_CHAIN_PARA para{};
  para.cbSize = sizeof(para);
  if (usage) {
    para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    para.RequestedUsage.Usage.cUsageIdentifier = 1;
    para.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
  }
  PCCERT_CHAIN_CONTEXT built = nullptr;
  // Nothing is fetched: no missing issuer, no root update, no revocation list.
  const DWORD flags = CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL | CERT_CHAIN_DISABLE_AUTH_ROOT_AUTO_UPDATE;
  if (!CertGetCertificateChain(nullptr, certificate, const_cast<FILETIME*>(time), store, &para, flags,
                               nullptr, &built)) {
    error = GetLastError();
    return UniqueCertChain();
  }
  error = 0;
  return UniqueCertChain(built);
}

DWORD UsageChainError(PCCERT_CONTEXT certificate, HCERTSTORE store, const FILETIME* time, LPCSTR usage) {
  DWORD error = 0;
  const UniqueCertChain chain = BuildChain(certificate, store, time, usage, error);
  if (!chain) return error;
  if (const DWORD policyError = ChainPolicyError(CERT_CHAIN_POLICY_BASE, chain.get())) return policyError;
  if (const DWORD status = chain.get()->TrustStatus.dwErrorStatus) {
    LogInfo((boost::wformat(L"certificate chain status 0x%1$08X") % status).str());
    return status;
  }
  return 0;
}

bool ListsUsage(PCCERT_CONTEXT certificate, LPCSTR usage) {
  DWORD size = 0;
  if (!CertGetEnhancedKeyUsage(certificate, CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG, nullptr, &size) ||
      size == 0)
    return false;
  std::vector<BYTE> buffer(size);
  auto* usages = reinterpret_cast<PCERT_ENHKEY_USAGE>(buffer.data());
  if (!CertGetEnhancedKeyUsage(certificate, CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG, usages, &size))
    return false;
  for (DWORD i = 0; i < usages->cUsageIdentifier; ++i)
    if (usages->rgpszUsageIdentifier[i] && std::strcmp(usages->rgpszUsageIdentifier[i], usage) == 0)
      return true;
  return false;
}

std::wstring SimpleDisplayName(PCCERT_CONTEXT certificate) {
  const DWORD size = CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, nullptr, 0);
  std::vector<wchar_t> name(size ? size : 1);
  CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name.data(), size);
  return name.data();
}

}  // namespace brimo
