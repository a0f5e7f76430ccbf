// A self-signed certificate for 127.0.0.1, made when a test runs.
#ifndef QN_TEST_TLS_CERT_H
#define QN_TEST_TLS_CERT_H

#include <string>

namespace qntest {

struct TlsFiles {
    std::string cert;  // PEM certificate
    std::string key;   // PEM private key, unencrypted
};

// Writes, with the openssl tool, a fresh P-256 key and a certificate for
// CN=127.0.0.1 (valid one day) as "<dir>cert.pem" and "<dir>key.pem". `dir`
// ends in "/". Empty paths and a test failure when openssl refuses.
TlsFiles make_self_signed_cert(const std::string& dir);

}  // namespace qntest

#endif
