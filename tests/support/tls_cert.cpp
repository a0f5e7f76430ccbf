#include "tls_cert.h"

#include <gtest/gtest.h>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>

namespace qntest {

TlsFiles make_self_signed_cert(const std::string& dir) {
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(EVP_EC_gen("P-256"), &EVP_PKEY_free);
    std::unique_ptr<X509, decltype(&X509_free)> cert(X509_new(), &X509_free);
    if (!key || !cert) {
        ADD_FAILURE() << "OpenSSL could not make a key or certificate";
        return {};
    }
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 24 * 3600);
    X509_set_pubkey(cert.get(), key.get());
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
    X509_set_issuer_name(cert.get(), name);
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, cert.get(), cert.get(), nullptr, nullptr, 0);
    if (X509_EXTENSION* ext =
            X509V3_EXT_conf_nid(nullptr, &ctx, NID_subject_alt_name, "IP:127.0.0.1")) {
        X509_add_ext(cert.get(), ext, -1);
        X509_EXTENSION_free(ext);
    }

    TlsFiles files{dir + "cert.pem", dir + "key.pem"};
    using Bio = std::unique_ptr<BIO, decltype(&BIO_free)>;
    Bio cert_out(BIO_new_file(files.cert.c_str(), "wb"), &BIO_free);
    Bio key_out(BIO_new_file(files.key.c_str(), "wb"), &BIO_free);
    if (X509_sign(cert.get(), key.get(), EVP_sha256()) == 0 || !cert_out || !key_out ||
        PEM_write_bio_X509(cert_out.get(), cert.get()) != 1 ||
        PEM_write_bio_PrivateKey(key_out.get(), key.get(), nullptr, nullptr, 0, nullptr,
                                 nullptr) != 1) {
        ADD_FAILURE() << "cannot sign or write the certificate files under " << dir;
        return {};
    }
    return files;
}

}  // namespace qntest
