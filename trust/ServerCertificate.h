// The program's own check of an HTTPS server's certificate, made when a transfer reaches one. Where
// the TLS library leaves the check to a system that makes none (Wine's Schannel), this is the check;
// on Windows it repeats what Schannel did.
#pragma once

#include <optional>
#include <string>

namespace brimo {

// Why the certificate of the TLS session does not prove that the server is host; nothing when it
// does. session is the TLS library's own (Schannel's context handle), null when the connection has
// none. Nothing is fetched, so revocation stays with the TLS library.
std::optional<std::wstring> ServerCertificateRefusal(const void* session, const std::string& host);

}  // namespace brimo
