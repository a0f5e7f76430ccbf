#include "curl/host_settings.h"

#include <cstdlib>
#include <cstring>

namespace qn {
namespace curl {

namespace {

// Unset or empty keeps the default; "0" turns a switch off and any other
// value on, so that "yes" or "true" does not silently leave verification
// off.
bool flag(const char* name, bool default_value) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') return default_value;
    return std::strcmp(value, "0") != 0;
}

HostSettings read_environment() {
    HostSettings settings;
    settings.tls_verify = flag("QUILLNET_TLS_VERIFY", false);
    const char* ca_file = std::getenv("QUILLNET_TLS_CA_FILE");
    if (ca_file != nullptr) settings.tls_ca_file = ca_file;
    settings.share_connections = flag("QUILLNET_SHARE_CONNECTIONS", true);
    return settings;
}

}  // namespace

const HostSettings& host_settings() {
    static const HostSettings settings = read_environment();
    return settings;
}

}  // namespace curl
}  // namespace qn
