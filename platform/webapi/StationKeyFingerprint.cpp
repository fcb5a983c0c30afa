#include "StationKeyFingerprint.h"

#include <memory>

#include <openssl/evp.h>
#include <openssl/x509.h>

namespace Keldra {

std::string StationKeyFingerprint(SSL* connection)
{
    const std::unique_ptr<X509, decltype(&X509_free)> certificate(SSL_get1_peer_certificate(connection), &X509_free);
    if (!certificate) {
        return std::string();
    }
    unsigned char* der = nullptr;
    const int length = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(certificate.get()), &der);
    if (length <= 0) {
        return std::string();
    }
    const std::unique_ptr<unsigned char, void (*)(unsigned char*)> owned(der,
                                                                         [](unsigned char* p) { OPENSSL_free(p); });
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestLength = 0;
    if (EVP_Digest(der, static_cast<std::size_t>(length), digest, &digestLength, EVP_sha256(), nullptr) != 1) {
        return std::string();
    }
    static const char* const hexDigits = "0123456789abcdef";
    std::string text;
    for (unsigned int index = 0; index < digestLength; ++index) {
        if (index > 0) {
            text += ':';
        }
        text += hexDigits[digest[index] >> 4];
        text += hexDigits[digest[index] & 0xf];
    }
    return text;
}

}  // namespace Keldra
