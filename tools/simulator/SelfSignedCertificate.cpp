#include "SelfSignedCertificate.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace Keldra {
namespace Simulation {

namespace {

struct KeyDeleter {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct CertificateDeleter {
    void operator()(X509* certificate) const { X509_free(certificate); }
};
struct ExtensionDeleter {
    void operator()(X509_EXTENSION* extension) const { X509_EXTENSION_free(extension); }
};

std::string OpenSslFailure(const char* step)
{
    const unsigned long code = ERR_get_error();
    char text[256] = {};
    ERR_error_string_n(code, text, sizeof text);
    ERR_clear_error();
    return std::string("cannot make the station certificate (") + step + "): " + text;
}

bool AddExtension(X509* certificate, int nid, const char* value)
{
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, certificate, certificate, nullptr, nullptr, 0);
    std::unique_ptr<X509_EXTENSION, ExtensionDeleter> extension(X509V3_EXT_conf_nid(nullptr, &context, nid, value));
    return extension != nullptr && X509_add_ext(certificate, extension.get(), -1) == 1;
}

// The key kept in keyFile (PEM), made and kept there when the file is
// missing; a new one each time without a file.
std::unique_ptr<EVP_PKEY, KeyDeleter> StationKey(const std::string& keyFile)
{
    std::unique_ptr<FILE, int (*)(FILE*)> stored(keyFile.empty() ? nullptr : std::fopen(keyFile.c_str(), "r"),
                                                 &std::fclose);
    if (stored) {
        return std::unique_ptr<EVP_PKEY, KeyDeleter>(PEM_read_PrivateKey(stored.get(), nullptr, nullptr, nullptr));
    }
    std::unique_ptr<EVP_PKEY, KeyDeleter> key(EVP_EC_gen("P-256"));
    if (key && !keyFile.empty()) {
        const int descriptor = ::open(keyFile.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        std::unique_ptr<FILE, int (*)(FILE*)> created(descriptor < 0 ? nullptr : ::fdopen(descriptor, "w"),
                                                      &std::fclose);
        if (!created || PEM_write_PrivateKey(created.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1) {
            key.reset();
        }
    }
    return key;
}

}  // namespace

std::string UseSelfSignedCertificate(boost::asio::ssl::context& context, const std::string& commonName,
                                     const std::string& keyFile)
{
    const auto key = StationKey(keyFile);
    if (!key) {
        return OpenSslFailure(keyFile.empty() ? "key" : "key file");
    }
    std::unique_ptr<X509, CertificateDeleter> certificate(X509_new());
    if (!certificate) {
        return OpenSslFailure("certificate");
    }
    unsigned char serial[16] = {};
    if (RAND_bytes(serial, sizeof serial) != 1) {
        return OpenSslFailure("serial number");
    }
    serial[0] &= 0x7f;  // a positive serial number
    BIGNUM* serialNumber = BN_bin2bn(serial, sizeof serial, nullptr);
    const bool serialSet = serialNumber != nullptr &&
                           BN_to_ASN1_INTEGER(serialNumber, X509_get_serialNumber(certificate.get())) != nullptr;
    BN_free(serialNumber);
    X509_NAME* name = X509_get_subject_name(certificate.get());
    const bool filled =
        serialSet && X509_set_version(certificate.get(), 2) == 1 &&
        X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -24L * 3600) != nullptr &&
        X509_gmtime_adj(X509_getm_notAfter(certificate.get()), 10L * 365 * 24 * 3600) != nullptr &&
        X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("Keldra"), -1, -1,
                                   0) == 1 &&
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(commonName.c_str()),
                                   -1, -1, 0) == 1 &&
        X509_set_issuer_name(certificate.get(), name) == 1 && X509_set_pubkey(certificate.get(), key.get()) == 1 &&
        AddExtension(certificate.get(), NID_basic_constraints, "critical,CA:FALSE") &&
        AddExtension(certificate.get(), NID_ext_key_usage, "serverAuth");
    if (!filled) {
        return OpenSslFailure("fields");
    }
    if (X509_sign(certificate.get(), key.get(), EVP_sha256()) == 0) {
        return OpenSslFailure("signature");
    }
    SSL_CTX* native = context.native_handle();
    if (SSL_CTX_use_certificate(native, certificate.get()) != 1 || SSL_CTX_use_PrivateKey(native, key.get()) != 1 ||
        SSL_CTX_check_private_key(native) != 1) {
        return OpenSslFailure("context");
    }
    return {};
}

}  // namespace Simulation
}  // namespace Keldra
