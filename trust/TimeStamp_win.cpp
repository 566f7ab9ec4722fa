#include "trust/TimeStamp_win.h"

#include <boost/format.hpp>
#include <cstring>
#include <vector>

#include "trust/CertificateChain_win.h"
#include "trust/CngHash_win.h"
#include "trust/TimeStampToken.h"

namespace brimo {

namespace {

// The content type of an RFC 3161 time stamp token (id-ct-TSTInfo).
constexpr char kTstInfoContentType[] = "1.2.840.113549.1.9.16.1.4";
// How far a time stamp may lie ahead of this machine's clock: a few minutes of skew between two
// clocks, not a stamp from a time-stamping service whose clock is wrong.
constexpr ULONGLONG kAllowedSkew = 5ull * 60 * 10000000;  // 100 ns units

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

// Whether a zero-terminated object identifier, as a message parameter holds it, is exactly oid.
bool IsOid(const std::vector<BYTE>& parameter, const char* oid) {
  const char* text = reinterpret_cast<const char*>(parameter.data());
  return std::string(text, strnlen(text, parameter.size())) == oid;
}

// The one value of a signer's attribute, decoded as type; null when it has not exactly one or it does
// not decode.
template <class T>
UniqueLocal<T*> DecodedAttribute(const CRYPT_ATTRIBUTES& attributes, LPCSTR oid, LPCSTR type) {
  const CRYPT_ATTRIBUTE* attribute = FindAttribute(attributes, oid);
  if (!attribute || attribute->cValue != 1) return UniqueLocal<T*>();
  T* value = nullptr;
  DWORD size = 0;
  if (!CryptDecodeObjectEx(kCertEncoding, type, attribute->rgValue[0].pbData, attribute->rgValue[0].cbData,
                           CRYPT_DECODE_ALLOC_FLAG, nullptr, &value, &size))
    return UniqueLocal<T*>();
  return UniqueLocal<T*>(value);
}

bool SameBytes(const CRYPT_DATA_BLOB& blob, const std::optional<std::vector<BYTE>>& digest) {
  return digest && blob.cbData == digest->size() &&
         std::memcmp(blob.pbData, digest->data(), digest->size()) == 0;
}

// The token's content, the TSTInfo. Some systems hand out a content of another type than data still
// wrapped in its OCTET STRING (Wine does): unwrapped here, so the digest is over the TSTInfo itself.
std::vector<BYTE> TokenContent(HCRYPTMSG message) {
  std::vector<BYTE> content = MessageParam(message, CMSG_CONTENT_PARAM);
  if (content.empty() || content.front() != 0x04) return content;
  CRYPT_DATA_BLOB* inner = nullptr;
  DWORD size = 0;
  if (!CryptDecodeObjectEx(kCertEncoding, X509_OCTET_STRING, content.data(),
                           static_cast<DWORD>(content.size()), CRYPT_DECODE_ALLOC_FLAG, nullptr, &inner,
                           &size))
    return {};
  const UniqueLocal<CRYPT_DATA_BLOB*> owned(inner);
  return std::vector<BYTE>(inner->pbData, inner->pbData + inner->cbData);
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

ULONGLONG Ticks(const FILETIME& time) {
  ULARGE_INTEGER ticks;
  ticks.LowPart = time.dwLowDateTime;
  ticks.HighPart = time.dwHighDateTime;
  return ticks.QuadPart;
}

TimeStampVerdict Unused(const wchar_t* why, DWORD code = 0) {
  TimeStampVerdict verdict;
  verdict.unused = code ? Failure(why, code) : std::wstring(why);
  return verdict;
}

// 0 when the time-stamping certificate may stamp times at time: it lists the purpose itself (a
// certificate without the extension does not), and its chain is good for it then.
DWORD StampCertificateError(PCCERT_CONTEXT certificate, HCERTSTORE store, const FILETIME& time) {
  if (!ListsUsage(certificate, szOID_PKIX_KP_TIMESTAMP_SIGNING))
    return static_cast<DWORD>(CERT_E_WRONG_USAGE);
  return UsageChainError(certificate, store, &time, szOID_PKIX_KP_TIMESTAMP_SIGNING);
}

// An RFC 3161 time stamp: its signature verifies over its content, its signer may stamp times at the
// stamped time, and what it stamps is the digest of this signer's signature.
TimeStampVerdict Rfc3161TimeStamp(const CMSG_SIGNER_INFO& signer) {
  const CRYPT_ATTRIBUTE* attribute = FindAttribute(signer.UnauthAttrs, szOID_RFC3161_counterSign);
  if (!attribute) return {};
  if (attribute->cValue != 1) return Unused(L"not exactly one time stamp");
  const CRYPT_ATTR_BLOB& token = attribute->rgValue[0];

  const UniqueCryptMsg message(CryptMsgOpenToDecode(kCertEncoding, 0, 0, 0, nullptr, nullptr));
  if (!message || !CryptMsgUpdate(message.get(), token.pbData, token.cbData, TRUE))
    return Unused(L"time stamp unreadable", GetLastError());
  if (!IsOid(MessageParam(message.get(), CMSG_INNER_CONTENT_TYPE_PARAM), kTstInfoContentType))
    return Unused(L"not a time stamp token");
  DWORD signers = 0;
  DWORD size = sizeof(signers);
  if (!CryptMsgGetParam(message.get(), CMSG_SIGNER_COUNT_PARAM, 0, &signers, &size) || signers != 1)
    return Unused(L"time stamp not signed once");

  // Its signer's certificate, among those the token carries.
  const UniqueCertStore store(CertOpenStore(CERT_STORE_PROV_MSG, kCertEncoding, 0, 0, message.get()));
  std::vector<BYTE> certInfo = MessageParam(message.get(), CMSG_SIGNER_CERT_INFO_PARAM);
  if (!store || certInfo.empty()) return Unused(L"time stamp signer unknown");
  const UniqueCertContext certificate(CertGetSubjectCertificateFromStore(
      store.get(), kCertEncoding, reinterpret_cast<PCERT_INFO>(certInfo.data())));
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
  const LPCWSTR contentAlgorithm = DigestAlgorithm(tsaSigner.HashAlgorithm.pszObjId);
  const UniqueLocal<CRYPT_DATA_BLOB*> signedDigest =
      DecodedAttribute<CRYPT_DATA_BLOB>(tsaSigner.AuthAttrs, szOID_RSA_messageDigest, X509_OCTET_STRING);
  if (!signedDigest || !contentAlgorithm) return Unused(L"time stamp content not signed");
  if (!SameBytes(*signedDigest.get(), CngHash::Of(contentAlgorithm, content.data(), content.size())))
    return Unused(L"time stamp content does not match its signature");

  // What it says: the time, and that what was stamped is this signer's signature.
  const std::optional<TimeStampInfo> info = ReadTimeStampInfo(content.data(), content.size());
  if (!info) return Unused(L"time stamp content unreadable");
  const std::optional<std::vector<BYTE>> imprint =
      CngHash::Of(ImprintAlgorithm(info->hash), signer.EncryptedHash.pbData, signer.EncryptedHash.cbData);
  if (!imprint || *imprint != info->hashedMessage) return Unused(L"time stamp is for another signature");

  const FILETIME time = FileTimeOf(info->genTime);
  if (const DWORD error = StampCertificateError(certificate.get(), store.get(), time))
    return Unused(L"time stamp certificate not trusted", error);
  TimeStampVerdict verdict;
  verdict.time = time;
  return verdict;
}

// Whether a signer's RSA signature over its signed attributes (as DER, a SET OF) holds under the
// certificate's key. Checked here, since not every system verifies a countersignature (Wine's call
// for it always fails).
bool AttributesSignatureHolds(const CMSG_SIGNER_INFO& signer, PCCERT_CONTEXT certificate, LPCWSTR algorithm) {
  BYTE* encoded = nullptr;
  DWORD encodedSize = 0;
  CRYPT_ATTRIBUTES attributes = signer.AuthAttrs;
  if (attributes.cAttr == 0 || !CryptEncodeObjectEx(kCertEncoding, PKCS_ATTRIBUTES, &attributes,
                                                    CRYPT_ENCODE_ALLOC_FLAG, nullptr, &encoded, &encodedSize))
    return false;
  const UniqueLocal<BYTE*> ownedEncoding(encoded);
  const std::optional<std::vector<BYTE>> digest = CngHash::Of(algorithm, encoded, encodedSize);
  BCRYPT_KEY_HANDLE imported = nullptr;
  if (!digest || !CryptImportPublicKeyInfoEx2(
                     X509_ASN_ENCODING, &certificate->pCertInfo->SubjectPublicKeyInfo, 0, nullptr, &imported))
    return false;
  const UniqueKey key(imported);
  BCRYPT_PKCS1_PADDING_INFO padding{algorithm};
  return BCRYPT_SUCCESS(BCryptVerifySignature(key.get(), &padding, const_cast<PUCHAR>(digest->data()),
                                              static_cast<ULONG>(digest->size()), signer.EncryptedHash.pbData,
                                              signer.EncryptedHash.cbData, BCRYPT_PAD_PKCS1));
}

// A legacy Authenticode countersignature: its signer's certificate (one the signature carries) may
// stamp times at the signing time it states, its signature over its attributes holds, and the digest
// it signed is that of this signer's signature.
TimeStampVerdict LegacyTimeStamp(const CMSG_SIGNER_INFO& signer, HCERTSTORE store) {
  const CRYPT_ATTRIBUTE* attribute = FindAttribute(signer.UnauthAttrs, szOID_RSA_counterSign);
  if (!attribute) return {};
  if (attribute->cValue != 1) return Unused(L"not exactly one countersignature");
  const CRYPT_ATTR_BLOB& value = attribute->rgValue[0];
  CMSG_SIGNER_INFO* decoded = nullptr;
  DWORD size = 0;
  if (!CryptDecodeObjectEx(kCertEncoding, PKCS7_SIGNER_INFO, value.pbData, value.cbData,
                           CRYPT_DECODE_ALLOC_FLAG, nullptr, &decoded, &size))
    return Unused(L"countersignature unreadable", GetLastError());
  const UniqueLocal<CMSG_SIGNER_INFO*> countersigner(decoded);
  CERT_INFO identity{};
  identity.Issuer = decoded->Issuer;
  identity.SerialNumber = decoded->SerialNumber;
  const UniqueCertContext certificate(CertGetSubjectCertificateFromStore(store, kCertEncoding, &identity));
  if (!certificate) return Unused(L"countersigner's certificate missing");
  const UniqueLocal<FILETIME*> signingTime =
      DecodedAttribute<FILETIME>(decoded->AuthAttrs, szOID_RSA_signingTime, PKCS_UTC_TIME);
  if (!signingTime) return Unused(L"countersignature has no signing time");
  const LPCWSTR algorithm = DigestAlgorithm(decoded->HashAlgorithm.pszObjId);
  if (!algorithm || !AttributesSignatureHolds(*decoded, certificate.get(), algorithm))
    return Unused(L"countersignature not valid");
  const UniqueLocal<CRYPT_DATA_BLOB*> signedDigest =
      DecodedAttribute<CRYPT_DATA_BLOB>(decoded->AuthAttrs, szOID_RSA_messageDigest, X509_OCTET_STRING);
  if (!signedDigest || !SameBytes(*signedDigest.get(), CngHash::Of(algorithm, signer.EncryptedHash.pbData,
                                                                   signer.EncryptedHash.cbData)))
    return Unused(L"countersignature is for another signature");
  const FILETIME time = *signingTime.get();
  if (const DWORD error = StampCertificateError(certificate.get(), store, time))
    return Unused(L"countersigner's certificate not trusted", error);
  TimeStampVerdict verdict;
  verdict.time = time;
  return verdict;
}

}  // namespace

TimeStampVerdict SignerTimeStamp(const CMSG_SIGNER_INFO& signer, HCERTSTORE store, const FILETIME& now) {
  TimeStampVerdict verdict = Rfc3161TimeStamp(signer);
  if (!verdict.time && verdict.unused.empty()) verdict = LegacyTimeStamp(signer, store);
  // A stamp from the future proves nothing about when the file was signed.
  if (verdict.time && Ticks(*verdict.time) > Ticks(now) + kAllowedSkew)
    return Unused(L"time stamp is in the future");
  return verdict;
}

std::wstring UtcText(const FILETIME& time) {
  SYSTEMTIME utc{};
  FileTimeToSystemTime(&time, &utc);
  return (boost::wformat(L"%1$04d-%2$02d-%3$02d %4$02d:%5$02d:%6$02d UTC") % utc.wYear % utc.wMonth %
          utc.wDay % utc.wHour % utc.wMinute % utc.wSecond)
      .str();
}

}  // namespace brimo
