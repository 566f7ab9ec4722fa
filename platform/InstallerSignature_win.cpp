#include <windows.h>

#include <bcrypt.h>
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <boost/format.hpp>
#include <cstring>
#include <vector>

#include "platform/DebugLog.h"
#include "platform/InstallerSignature.h"
#include "platform/TimeStampToken.h"
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

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
// The content type of an RFC 3161 time stamp token (id-ct-TSTInfo).
constexpr char kTstInfoContentType[] = "1.2.840.113549.1.9.16.1.4";

// The policy's verdict on a chain: 0 when it holds, else its error (or the call's own). A refusal
// logs the chain's status bits, which say which certificate property failed.
DWORD ChainPolicyError(LPCSTR policy, PCCERT_CHAIN_CONTEXT chain) {
  CERT_CHAIN_POLICY_PARA para{};
  para.cbSize = sizeof(para);
  CERT_CHAIN_POLICY_STATUS status{};
  status.cbSize = sizeof(status);
  if (!CertVerifyCertificateChainPolicy(policy, chain, &para, &status)) return GetLastError();
  if (status.dwError != 0)
    LogInfo((boost::wformat(L"certificate chain refused (0x%1$08X), chain status 0x%2$08X") % status.dwError %
             chain->TrustStatus.dwErrorStatus)
                .str());
  return status.dwError;
}

// A fresh chain for certificate at time (now when null), asked to be good for usage (any when null);
// the store supplies the intermediates the signature carries. Null, with error set, when it cannot
// be built.
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

// A fresh chain for certificate, good for usage at time (now when null) under the base policy; 0 when
// it is.
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

// The digest of data with the named CNG algorithm; empty when it cannot be made.
std::vector<BYTE> Digest(LPCWSTR algorithm, const BYTE* data, DWORD size) {
  std::vector<BYTE> digest;
  BCRYPT_ALG_HANDLE provider = nullptr;
  if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&provider, algorithm, nullptr, 0))) return digest;
  BCRYPT_HASH_HANDLE hash = nullptr;
  DWORD length = 0;
  ULONG got = 0;
  if (BCRYPT_SUCCESS(BCryptGetProperty(provider, BCRYPT_HASH_LENGTH, reinterpret_cast<PUCHAR>(&length),
                                       sizeof(length), &got, 0)) &&
      BCRYPT_SUCCESS(BCryptCreateHash(provider, &hash, nullptr, 0, nullptr, 0, 0))) {
    digest.resize(length);
    if (!BCRYPT_SUCCESS(BCryptHashData(hash, const_cast<PUCHAR>(data), size, 0)) ||
        !BCRYPT_SUCCESS(BCryptFinishHash(hash, digest.data(), length, 0)))
      digest.clear();
    BCryptDestroyHash(hash);
  }
  BCryptCloseAlgorithmProvider(provider, 0);
  return digest;
}

LPCWSTR ImprintAlgorithm(ImprintHash hash) {
  switch (hash) {
    case ImprintHash::Sha1:
      return BCRYPT_SHA1_ALGORITHM;
    case ImprintHash::Sha256:
      return BCRYPT_SHA256_ALGORITHM;
    case ImprintHash::Sha384:
      return BCRYPT_SHA384_ALGORITHM;
    case ImprintHash::Sha512:
      return BCRYPT_SHA512_ALGORITHM;
  }
  return nullptr;
}

// The CNG algorithm of a digest algorithm's object identifier; null for any other.
LPCWSTR DigestAlgorithm(LPCSTR oid) {
  if (!oid) return nullptr;
  if (std::strcmp(oid, szOID_OIWSEC_sha1) == 0) return BCRYPT_SHA1_ALGORITHM;
  if (std::strcmp(oid, szOID_NIST_sha256) == 0) return BCRYPT_SHA256_ALGORITHM;
  if (std::strcmp(oid, szOID_NIST_sha384) == 0) return BCRYPT_SHA384_ALGORITHM;
  if (std::strcmp(oid, szOID_NIST_sha512) == 0) return BCRYPT_SHA512_ALGORITHM;
  return nullptr;
}

const CRYPT_ATTRIBUTE* FindAttribute(const CRYPT_ATTRIBUTES& attributes, LPCSTR oid) {
  for (DWORD i = 0; i < attributes.cAttr; ++i)
    if (attributes.rgAttr[i].pszObjId && std::strcmp(attributes.rgAttr[i].pszObjId, oid) == 0)
      return &attributes.rgAttr[i];
  return nullptr;
}

// One parameter of a decoded message as bytes; empty when the message has none.
std::vector<BYTE> MessageParam(HCRYPTMSG message, DWORD type, DWORD index = 0) {
  DWORD size = 0;
  if (!CryptMsgGetParam(message, type, index, nullptr, &size) || size == 0) return {};
  std::vector<BYTE> data(size);
  if (!CryptMsgGetParam(message, type, index, data.data(), &size)) return {};
  data.resize(size);
  return data;
}

// The token's content, the TSTInfo. Some systems hand out a content of another type than data still
// wrapped in its OCTET STRING (Wine does): unwrapped here, so the digest is over the TSTInfo itself.
std::vector<BYTE> TokenContent(HCRYPTMSG message) {
  std::vector<BYTE> content = MessageParam(message, CMSG_CONTENT_PARAM);
  if (content.empty() || content.front() != 0x04) return content;
  CRYPT_DATA_BLOB* inner = nullptr;
  DWORD size = 0;
  if (!CryptDecodeObjectEx(kEncoding, X509_OCTET_STRING, content.data(), static_cast<DWORD>(content.size()),
                           CRYPT_DECODE_ALLOC_FLAG, nullptr, &inner, &size))
    return {};
  std::vector<BYTE> unwrapped(inner->pbData, inner->pbData + inner->cbData);
  LocalFree(inner);
  return unwrapped;
}

FILETIME FileTimeOf(std::int64_t unixSeconds) {
  // FILETIME counts 100 ns from 1601-01-01; a TSTInfo time lies within the years 0 to 9999.
  constexpr std::int64_t kEpochDifference = 11644473600;
  const std::int64_t seconds = unixSeconds + kEpochDifference;
  ULARGE_INTEGER ticks;
  ticks.QuadPart = seconds > 0 ? static_cast<ULONGLONG>(seconds) * 10000000ull : 0;
  FILETIME time;
  time.dwLowDateTime = ticks.LowPart;
  time.dwHighDateTime = ticks.HighPart;
  return time;
}

// What the signer's time stamp proves: its time when it is sound, else why it is not used (empty
// when there is none).
struct TimeStampVerdict {
  std::optional<FILETIME> time;
  std::wstring unused;
};

TimeStampVerdict Unused(const wchar_t* why, DWORD code = 0) {
  TimeStampVerdict verdict;
  verdict.unused = code ? Failure(why, code) : std::wstring(why);
  return verdict;
}

// An RFC 3161 time stamp counts when its signature verifies over its content, its signer chains to
// a trusted root and may stamp times at the stamped time, and what it stamps is the digest of this
// signer's signature.
TimeStampVerdict Rfc3161TimeStamp(const CMSG_SIGNER_INFO& signer) {
  const CRYPT_ATTRIBUTE* attribute = FindAttribute(signer.UnauthAttrs, szOID_RFC3161_counterSign);
  if (!attribute) return {};
  if (attribute->cValue != 1) return Unused(L"not exactly one time stamp");
  const CRYPT_ATTR_BLOB& token = attribute->rgValue[0];

  const UniqueCryptMsg message(CryptMsgOpenToDecode(kEncoding, 0, 0, 0, nullptr, nullptr));
  if (!message || !CryptMsgUpdate(message.get(), token.pbData, token.cbData, TRUE))
    return Unused(L"time stamp unreadable", GetLastError());
  const std::vector<BYTE> contentType = MessageParam(message.get(), CMSG_INNER_CONTENT_TYPE_PARAM);
  if (contentType.empty() || std::strncmp(reinterpret_cast<const char*>(contentType.data()),
                                          kTstInfoContentType, contentType.size()) != 0)
    return Unused(L"not a time stamp token");
  DWORD signers = 0;
  DWORD size = sizeof(signers);
  if (!CryptMsgGetParam(message.get(), CMSG_SIGNER_COUNT_PARAM, 0, &signers, &size) || signers != 1)
    return Unused(L"time stamp not signed once");

  // Its signer's certificate, among those the token carries.
  const UniqueCertStore store(CertOpenStore(CERT_STORE_PROV_MSG, kEncoding, 0, 0, message.get()));
  std::vector<BYTE> certInfo = MessageParam(message.get(), CMSG_SIGNER_CERT_INFO_PARAM);
  if (!store || certInfo.empty()) return Unused(L"time stamp signer unknown");
  const UniqueCertContext certificate(CertGetSubjectCertificateFromStore(
      store.get(), kEncoding, reinterpret_cast<PCERT_INFO>(certInfo.data())));
  if (!certificate) return Unused(L"time stamp signer's certificate missing", GetLastError());

  // Its signature over its signed attributes...
  CMSG_CTRL_VERIFY_SIGNATURE_EX_PARA verify{};
  verify.cbSize = sizeof(verify);
  verify.dwSignerIndex = 0;
  verify.dwSignerType = CMSG_VERIFY_SIGNER_CERT;
  verify.pvSigner = const_cast<CERT_CONTEXT*>(certificate.get());
  if (!CryptMsgControl(message.get(), 0, CMSG_CTRL_VERIFY_SIGNATURE_EX, &verify))
    return Unused(L"time stamp signature not valid", GetLastError());
  // ...and those attributes over the content: checked here, since not every system's message
  // verification compares the signed digest with the content.
  std::vector<BYTE> signerInfo = MessageParam(message.get(), CMSG_SIGNER_INFO_PARAM);
  const std::vector<BYTE> content = TokenContent(message.get());
  if (signerInfo.empty() || content.empty()) return Unused(L"time stamp empty");
  const CMSG_SIGNER_INFO& tsaSigner = *reinterpret_cast<const CMSG_SIGNER_INFO*>(signerInfo.data());
  const CRYPT_ATTRIBUTE* digestAttribute = FindAttribute(tsaSigner.AuthAttrs, szOID_RSA_messageDigest);
  const LPCWSTR contentAlgorithm = DigestAlgorithm(tsaSigner.HashAlgorithm.pszObjId);
  if (!digestAttribute || digestAttribute->cValue != 1 || !contentAlgorithm)
    return Unused(L"time stamp content not signed");
  CRYPT_DATA_BLOB* signedDigest = nullptr;
  DWORD signedDigestSize = 0;
  if (!CryptDecodeObjectEx(kEncoding, X509_OCTET_STRING, digestAttribute->rgValue[0].pbData,
                           digestAttribute->rgValue[0].cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr,
                           &signedDigest, &signedDigestSize))
    return Unused(L"time stamp content not signed", GetLastError());
  const std::vector<BYTE> contentDigest =
      Digest(contentAlgorithm, content.data(), static_cast<DWORD>(content.size()));
  const bool contentSigned =
      !contentDigest.empty() && signedDigest->cbData == contentDigest.size() &&
      std::memcmp(signedDigest->pbData, contentDigest.data(), contentDigest.size()) == 0;
  LocalFree(signedDigest);
  if (!contentSigned) return Unused(L"time stamp content does not match its signature");

  // What it says: the time, and that what was stamped is this signer's signature.
  const std::optional<TimeStampInfo> info = ReadTimeStampInfo(content.data(), content.size());
  if (!info) return Unused(L"time stamp content unreadable");
  const std::vector<BYTE> imprint =
      Digest(ImprintAlgorithm(info->hash), signer.EncryptedHash.pbData, signer.EncryptedHash.cbData);
  if (imprint != info->hashedMessage) return Unused(L"time stamp is for another signature");

  TimeStampVerdict verdict;
  const FILETIME time = FileTimeOf(info->genTime);
  if (const DWORD error =
          UsageChainError(certificate.get(), store.get(), &time, szOID_PKIX_KP_TIMESTAMP_SIGNING))
    return Unused(L"time stamp certificate not trusted", error);
  verdict.time = time;
  return verdict;
}

// The one value of a signer's attribute, decoded as type (freed with LocalFree); null when it has not
// exactly one or it does not decode.
template <class T>
T* DecodedAttribute(const CRYPT_ATTRIBUTES& attributes, LPCSTR oid, LPCSTR type) {
  const CRYPT_ATTRIBUTE* attribute = FindAttribute(attributes, oid);
  if (!attribute || attribute->cValue != 1) return nullptr;
  T* value = nullptr;
  DWORD size = 0;
  if (!CryptDecodeObjectEx(kEncoding, type, attribute->rgValue[0].pbData, attribute->rgValue[0].cbData,
                           CRYPT_DECODE_ALLOC_FLAG, nullptr, &value, &size))
    return nullptr;
  return value;
}

// Whether a signer's RSA signature over its signed attributes (as DER, a SET OF) holds under the
// certificate's key. Checked here, since not every system verifies a countersignature (Wine's call
// for it always fails).
bool AttributesSignatureHolds(const CMSG_SIGNER_INFO& signer, PCCERT_CONTEXT certificate, LPCWSTR algorithm) {
  BYTE* encoded = nullptr;
  DWORD encodedSize = 0;
  CRYPT_ATTRIBUTES attributes = signer.AuthAttrs;
  if (attributes.cAttr == 0 || !CryptEncodeObjectEx(kEncoding, PKCS_ATTRIBUTES, &attributes,
                                                    CRYPT_ENCODE_ALLOC_FLAG, nullptr, &encoded, &encodedSize))
    return false;
  std::vector<BYTE> digest = Digest(algorithm, encoded, encodedSize);
  LocalFree(encoded);
  BCRYPT_KEY_HANDLE key = nullptr;
  if (digest.empty() ||
      !CryptImportPublicKeyInfoEx2(X509_ASN_ENCODING, &certificate->pCertInfo->SubjectPublicKeyInfo, 0,
                                   nullptr, &key))
    return false;
  BCRYPT_PKCS1_PADDING_INFO padding{algorithm};
  const bool holds = BCRYPT_SUCCESS(
      BCryptVerifySignature(key, &padding, digest.data(), static_cast<ULONG>(digest.size()),
                            signer.EncryptedHash.pbData, signer.EncryptedHash.cbData, BCRYPT_PAD_PKCS1));
  BCryptDestroyKey(key);
  return holds;
}

// A legacy Authenticode countersignature counts when its signer's certificate (one the signature
// carries) chains to a trusted root and may stamp times at the signing time it states, its signature
// over its attributes holds, and the digest it signed is that of this signer's signature.
TimeStampVerdict LegacyTimeStamp(const CMSG_SIGNER_INFO& signer, HCERTSTORE store) {
  const CRYPT_ATTRIBUTE* attribute = FindAttribute(signer.UnauthAttrs, szOID_RSA_counterSign);
  if (!attribute) return {};
  if (attribute->cValue != 1) return Unused(L"not exactly one countersignature");
  const CRYPT_ATTR_BLOB& value = attribute->rgValue[0];
  CMSG_SIGNER_INFO* countersigner = nullptr;
  DWORD size = 0;
  if (!CryptDecodeObjectEx(kEncoding, PKCS7_SIGNER_INFO, value.pbData, value.cbData, CRYPT_DECODE_ALLOC_FLAG,
                           nullptr, &countersigner, &size))
    return Unused(L"countersignature unreadable", GetLastError());
  CERT_INFO identity{};
  identity.Issuer = countersigner->Issuer;
  identity.SerialNumber = countersigner->SerialNumber;
  const UniqueCertContext certificate(CertGetSubjectCertificateFromStore(store, kEncoding, &identity));
  const LPCWSTR algorithm = DigestAlgorithm(countersigner->HashAlgorithm.pszObjId);
  CRYPT_DATA_BLOB* signedDigest =
      DecodedAttribute<CRYPT_DATA_BLOB>(countersigner->AuthAttrs, szOID_RSA_messageDigest, X509_OCTET_STRING);
  FILETIME* signingTime =
      DecodedAttribute<FILETIME>(countersigner->AuthAttrs, szOID_RSA_signingTime, PKCS_UTC_TIME);
  const bool signatureHolds =
      certificate && algorithm && AttributesSignatureHolds(*countersigner, certificate.get(), algorithm);
  LocalFree(countersigner);
  const std::vector<BYTE> digest =
      algorithm ? Digest(algorithm, signer.EncryptedHash.pbData, signer.EncryptedHash.cbData)
                : std::vector<BYTE>();
  const bool digestMatches = signedDigest && !digest.empty() && signedDigest->cbData == digest.size() &&
                             std::memcmp(signedDigest->pbData, digest.data(), digest.size()) == 0;
  const std::optional<FILETIME> time = signingTime ? std::optional<FILETIME>(*signingTime) : std::nullopt;
  LocalFree(signedDigest);
  LocalFree(signingTime);

  if (!certificate) return Unused(L"countersigner's certificate missing");
  if (!time) return Unused(L"countersignature has no signing time");
  if (!signatureHolds) return Unused(L"countersignature not valid");
  if (!digestMatches) return Unused(L"countersignature is for another signature");
  if (const DWORD error = UsageChainError(certificate.get(), store, &*time, szOID_PKIX_KP_TIMESTAMP_SIGNING))
    return Unused(L"countersigner's certificate not trusted", error);
  TimeStampVerdict verdict;
  verdict.time = time;
  return verdict;
}

std::wstring UtcText(const FILETIME& time) {
  SYSTEMTIME utc{};
  FileTimeToSystemTime(&time, &utc);
  return (boost::wformat(L"%1$04d-%2$02d-%3$02d %4$02d:%5$02d:%6$02d UTC") % utc.wYear % utc.wMonth %
          utc.wDay % utc.wHour % utc.wMinute % utc.wSecond)
      .str();
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
  if (!signer || !signer->pChainContext || signer->csCertChain == 0 || !signer->pasCertChain[0].pCert ||
      !signer->psSigner)
    return Failure(L"no signer", static_cast<DWORD>(TRUST_E_NOSIGNATURE));
  const PCCERT_CONTEXT certificate = signer->pasCertChain[0].pCert;

  // A sound time stamp proves the signature was made at its time: the signer's chain is evaluated
  // then, so a signature made while the certificate was valid stays valid after it expires. Without
  // one (or with one that proves nothing), the chain is evaluated now.
  TimeStampVerdict stamp = Rfc3161TimeStamp(*signer->psSigner);
  if (!stamp.time && stamp.unused.empty())
    stamp = LegacyTimeStamp(*signer->psSigner, certificate->hCertStore);
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
