#include "tls_cert.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace qntest {

TlsFiles make_self_signed_cert(const std::string& dir) {
    TlsFiles files{dir + "cert.pem", dir + "key.pem"};
    const std::string command =
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 1"
        " -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 -keyout '" + files.key +
        "' -out '" + files.cert + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) {
        ADD_FAILURE() << "openssl could not make a certificate under " << dir;
        return {};
    }
    return files;
}

}  // namespace qntest
