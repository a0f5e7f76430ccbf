// GetNewUrl and its split helpers on arbitrary text: no crash at any
// length, and, for inputs short enough for std::regex's recursive matcher,
// the same results as the four patterns run by std::regex with the same
// protocol table.
#include <cstdint>
#include <fstream>
#include <map>
#include <string>

#include "Public/Helper/UrlDealwith.h"
#include "fuzz_config.h"
#include "url_reference.h"

using UrlFormat::HttpHeadDealwith;

namespace {

// Longer inputs are only run, not compared.
constexpr size_t kCompareBelow = 200;

const std::map<std::string, std::string>& table() {
    static const std::map<std::string, std::string> t = {
        {"srv:80", "https://"},    {"srv:443", "http://"}, {"10.0.0.1:80", "https://"},
        {"a:443", ""},             {"h:8080", "http://"},  {"HOST:443", "https://x/"},
    };
    return t;
}

}  // namespace

// The protocol table and a log level that drops every record, in a
// configuration directory of this process's own.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    qnfuzz::use_quiet_config_dir("qn_fuzz_url");
    std::ofstream protocol(qnfuzz::config_dir() / "Resource" / "Protocol.json");
    protocol << "{";
    const char* comma = "";
    for (const auto& entry : table()) {
        protocol << comma << '"' << entry.first << "\": \"" << entry.second << '"';
        comma = ", ";
    }
    protocol << "}";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    // GetNewUrl takes C text: it ends at the first NUL.
    const std::string url(bytes.c_str());
    const std::string result = HttpHeadDealwith::GetNewUrl(url.c_str());

    // The helpers take whole strings, NULs included.
    if (size < kCompareBelow) {
        qnfuzz::check(result == urlref::get_new_url(url, table()));
        qnfuzz::check(urlref::operations_agree(bytes));
    } else {
        HttpHeadDealwith::splitHostAndPathFromUrl(bytes);
        HttpHeadDealwith::isIpAddress(bytes);
        std::string swapped = bytes;
        HttpHeadDealwith::swapDefaultPort(swapped);
        HttpHeadDealwith::removeDefaultPort(bytes);
    }
    return 0;
}
