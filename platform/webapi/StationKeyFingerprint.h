// The identity a base station shows in the TLS handshake: the SHA-256
// fingerprint of its certificate's public key (the DER SubjectPublicKeyInfo),
// so that a new certificate over the same key keeps the identity.
#pragma once

#include <string>

#include <openssl/ssl.h>

namespace Keldra {

// Lower-case hexadecimal bytes separated by ':' ("3f:a0:..."); empty when the
// peer presented no certificate.
std::string StationKeyFingerprint(SSL* connection);

}  // namespace Keldra
