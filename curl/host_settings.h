// What a host may switch through the environment. The library otherwise
// reads nothing from the environment; these few variables are opt-ins a host
// sets before it loads the library, each read once per process, at the first
// transfer:
//
//   QUILLNET_TLS_VERIFY=1        verify the server's certificate and name on
//                                every HTTPS transfer (off by default: the
//                                hosts' devices use self-signed certificates);
//                                any value but 0 (or empty) turns it on
//   QUILLNET_TLS_CA_FILE=<path>  a PEM bundle to verify against instead of
//                                the system's certificate store
//   QUILLNET_SHARE_CONNECTIONS=0 no connection, DNS or TLS-session sharing
//                                between transfers: a fresh connection per call
#ifndef QN_CURL_HOST_SETTINGS_H
#define QN_CURL_HOST_SETTINGS_H

#include <string>

namespace qn {
namespace curl {

struct HostSettings {
    bool tls_verify = false;
    std::string tls_ca_file;  // empty: the engine's (the system's) store
    bool share_connections = true;
};

// The settings as the environment held them at the first call.
const HostSettings& host_settings();

}  // namespace curl
}  // namespace qn

#endif  // QN_CURL_HOST_SETTINGS_H
