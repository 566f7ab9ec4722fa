// Certificate chains built afresh for one purpose at one time, and what the policies say of them:
// the parts of the signature check that its signer and its time stamps share.
#pragma once

#include <windows.h>

#include <wincrypt.h>

#include <string>

#include "platform/UniqueAny_win.h"

namespace brimo {

constexpr DWORD kCertEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

// "what (0x0000ABCD)": a refusal with its result code.
std::wstring Failure(const wchar_t* what, DWORD code);

// The policy's verdict on a chain: 0 when it holds, else its error (or the call's own). extra is the
// policy's own parameter (the server name for the SSL policy).
DWORD ChainPolicyError(LPCSTR policy, PCCERT_CHAIN_CONTEXT chain, void* extra = nullptr);

// A fresh chain for certificate at time (now when null), asked to be good for usage (any when null);
// the store supplies the intermediates the signature carries. Nothing is fetched. Null, with error
// set, when it cannot be built.
UniqueCertChain BuildChain(PCCERT_CONTEXT certificate, HCERTSTORE store, const FILETIME* time, LPCSTR usage,
                           DWORD& error);

// 0 when a fresh chain for certificate is good for usage at time (now when null) under the base
// policy; else why not.
DWORD UsageChainError(PCCERT_CONTEXT certificate, HCERTSTORE store, const FILETIME* time, LPCSTR usage);

// Whether the certificate's own extended-key-usage extension lists usage. A certificate without the
// extension lists nothing (a chain, asked for a usage, would count it as good for every usage).
bool ListsUsage(PCCERT_CONTEXT certificate, LPCSTR usage);

// The certificate's simple display name: its common name, or the closest the subject has.
std::wstring SimpleDisplayName(PCCERT_CONTEXT certificate);

}  // namespace brimo
