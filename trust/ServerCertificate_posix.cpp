#include "trust/ServerCertificate.h"

namespace brimo {

// The native build's TLS library (OpenSSL) checks the server itself and offers no Schannel session,
// so a TLS connection without one is no cause to refuse.
std::optional<std::wstring> ServerCertificateRefusal(const void*, const std::string&) { return std::nullopt; }

}  // namespace brimo
