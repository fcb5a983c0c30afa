#include "SelfSignedCertificate.h"

#include <memory>
#include <stdexcept>

#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

namespace Keldra {
namespace Testing {

namespace {

template <typename T, void (*Free)(T*)>
struct OpenSslDeleter {
    void operator()(T* pointer) const { Free(pointer); }
};

using Key = std::unique_ptr<EVP_PKEY, OpenSslDeleter<EVP_PKEY, EVP_PKEY_free>>;
using Certificate = std::unique_ptr<X509, OpenSslDeleter<X509, X509_free>>;

void Require(bool condition, const char* what)
{
    if (!condition) {
        throw std::runtime_error(std::string("Cannot make the test certificate: ") + what);
    }
}

}  // namespace

void UseNewSelfSignedCertificate(boost::asio::ssl::context& context)
{
    Key key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
    Require(key != nullptr, "key generation");

    Certificate certificate(X509_new());
    Require(certificate != nullptr, "X509_new");
    Require(X509_set_version(certificate.get(), 2) == 1, "version");
    Require(ASN1_INTEGER_set(X509_get_serialNumber(certificate.get()), 1) == 1, "serial number");
    Require(X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -3600) != nullptr, "not before");
    Require(X509_gmtime_adj(X509_getm_notAfter(certificate.get()), 24 * 3600) != nullptr, "not after");
    Require(X509_set_pubkey(certificate.get(), key.get()) == 1, "public key");
    X509_NAME* name = X509_get_subject_name(certificate.get());
    const unsigned char commonName[] = "Brisgo test station";
    Require(X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, commonName, -1, -1, 0) == 1, "name");
    Require(X509_set_issuer_name(certificate.get(), name) == 1, "issuer");
    Require(X509_sign(certificate.get(), key.get(), EVP_sha256()) > 0, "signature");

    Require(SSL_CTX_use_certificate(context.native_handle(), certificate.get()) == 1, "use certificate");
    Require(SSL_CTX_use_PrivateKey(context.native_handle(), key.get()) == 1, "use key");
}

}  // namespace Testing
}  // namespace Keldra
