#include "trust/ServerCertificate.h"

#define SECURITY_WIN32
// The socket headers come before windows.h, which would otherwise bring the old ones.
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
// clang-format on

#include <schannel.h>
#include <security.h>

#include <cstring>
#include <optional>
#include <vector>

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

// The address bytes of host when it is an IPv4 or IPv6 literal.
std::optional<std::vector<BYTE>> IpAddressBytes(const std::string& host) {
  in_addr v4{};
  if (InetPtonA(AF_INET, host.c_str(), &v4) == 1) {
    const BYTE* bytes = reinterpret_cast<const BYTE*>(&v4);
    return std::vector<BYTE>(bytes, bytes + sizeof(v4));
  }
  in6_addr v6{};
  if (InetPtonA(AF_INET6, host.c_str(), &v6) == 1) {
    const BYTE* bytes = reinterpret_cast<const BYTE*>(&v6);
    return std::vector<BYTE>(bytes, bytes + sizeof(v6));
  }
  return std::nullopt;
}

// Whether the certificate names address among its subject's alternative IP addresses.
bool NamesIpAddress(PCCERT_CONTEXT certificate, const std::vector<BYTE>& address) {
  const CERT_INFO& info = *certificate->pCertInfo;
  const PCERT_EXTENSION extension =
      CertFindExtension(szOID_SUBJECT_ALT_NAME2, info.cExtension, info.rgExtension);
  if (!extension) return false;
  CERT_ALT_NAME_INFO* names = nullptr;
  DWORD size = 0;
  if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, extension->Value.pbData,
                           extension->Value.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr, &names, &size))
    return false;
  const UniqueLocal<CERT_ALT_NAME_INFO*> owned(names);
  for (DWORD i = 0; i < names->cAltEntry; ++i) {
    const CERT_ALT_NAME_ENTRY& entry = names->rgAltEntry[i];
    if (entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS && entry.IPAddress.cbData == address.size() &&
        std::memcmp(entry.IPAddress.pbData, address.data(), address.size()) == 0)
      return true;
  }
  return false;
}

}  // namespace

std::optional<std::wstring> ServerCertificateRefusal(const void* session, const std::string& host) {
  // Schannel is the only TLS library here: a TLS connection without its session is none to check.
  if (!session) return Failure(L"no TLS session", static_cast<DWORD>(SEC_E_INVALID_HANDLE));
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
  // An address is compared here with the certificate's IP address names (Wine's policy compares host
  // names only); a host name by the policy.
  const std::optional<std::vector<BYTE>> address = IpAddressBytes(host);
  ssl.pwszServerName = address ? nullptr : name.data();
  if (const DWORD policyError = ChainPolicyError(CERT_CHAIN_POLICY_SSL, chain.get(), &ssl))
    return Failure((L"not valid for " + name).c_str(), policyError);
  if (address && !NamesIpAddress(certificate.get(), *address))
    return Failure((L"not valid for " + name).c_str(), static_cast<DWORD>(CERT_E_CN_NO_MATCH));
  // Where the policy lets a chain with errors of its own pass (Wine's passes one that ends short of
  // any root, as when the server sends a leaf whose issuer nobody trusts), its status decides.
  if (const DWORD status = chain.get()->TrustStatus.dwErrorStatus)
    return Failure(L"chain not trusted",
                   status & CERT_TRUST_IS_PARTIAL_CHAIN ? static_cast<DWORD>(CERT_E_CHAINING) : status);
  return std::nullopt;
}

}  // namespace brimo
