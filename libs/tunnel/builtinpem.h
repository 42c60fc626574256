// The PEM texts every VPN client configuration starts with.
#pragma once

namespace trivane::tunnel {

// NUL-terminated PEM blocks with CR LF line ends and 64-character lines: a
// self-signed CA, a client certificate it signed, and that client's
// unencrypted PKCS#8 key.
extern const char* const builtinCaCertificate;
extern const char* const builtinClientCertificate;
extern const char* const builtinClientKey;

}  // namespace trivane::tunnel
