#include "trust/ServerCertificate.h"

#define SECURITY_WIN32
#include <windows.h>

#include <schannel.h>
#include <security.h>

#include "platform/DebugLog.h"
#include "trust/CertificateChain_win.h"

namespace brimo {

namespace {

using QueryContextAttributesCall = SECURITY_STATUS(SEC_ENTRY*)(PCtxtHandle, ULONG, void*);

// The SSPI entry point, from the system's own library (the TLS library has it loaded already);
// looked up rather than imported, so that no library beside the program can stand in for it.
QueryContextAttributesCall QueryContextAttributesEntry() {
  static const QueryContextAttributesCall entry = [] {
    const HMODULE secur32 = LoadLibraryExW(L"secur32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    return reinterpret_cast<QueryContextAttributesCall>(
        reinterpret_cast<void*>(secur32 ? GetProcAddress(secur32, "QueryContextAttributesW") : nullptr));
  }();
  return entry;
}

}  // namespace

std::optional<std::wstring> ServerCertificateRefusal(const void* session, const std::string& host) {
  const QueryContextAttributesCall query = QueryContextAttributesEntry();
  if (!query) return Failure(L"no TLS interface", ERROR_PROC_NOT_FOUND);
  PCCERT_CONTEXT received = nullptr;
  const SECURITY_STATUS status =
      query(static_cast<PCtxtHandle>(const_cast<void*>(session)), SECPKG_ATTR_REMOTE_CERT_CONTEXT, &received);
  const UniqueCertContext certificate(received);
  if (status != SEC_E_OK || !certificate)
    return Failure(L"no server certificate", static_cast<DWORD>(status));

  // A chain for server authentication now, with the intermediates the server sent; nothing fetched.
  DWORD error = 0;
  const UniqueCertChain chain =
      BuildChain(certificate.get(), certificate.get()->hCertStore, nullptr, szOID_PKIX_KP_SERVER_AUTH, error);
  if (!chain) return Failure(L"chain not built", error);
  std::wstring name = Utf8ToWide(host, L"");
  SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
  ssl.cbSize = sizeof(ssl);
  ssl.dwAuthType = AUTHTYPE_SERVER;
  ssl.pwszServerName = name.data();
  if (const DWORD policyError = ChainPolicyError(CERT_CHAIN_POLICY_SSL, chain.get(), &ssl))
    return Failure((L"not valid for " + name).c_str(), policyError);
  // Where the policy lets a chain with errors of its own pass (Wine's passes one that ends short of
  // any root, as when the server sends a leaf whose issuer nobody trusts), its status decides.
  if (const DWORD status = chain.get()->TrustStatus.dwErrorStatus)
    return Failure(L"chain not trusted",
                   status & CERT_TRUST_IS_PARTIAL_CHAIN ? static_cast<DWORD>(CERT_E_CHAINING) : status);
  return std::nullopt;
}

}  // namespace brimo
