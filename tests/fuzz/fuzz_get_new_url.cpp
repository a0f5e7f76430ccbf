// GetNewUrl and its split helpers on arbitrary text: no crash at any
// length, and, for inputs short enough for std::regex's recursive matcher,
// the same results as the four patterns run by std::regex with the same
// protocol table.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "Public/Helper/UrlDealwith.h"
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

std::filesystem::path& config_dir() {
    static std::filesystem::path dir;
    return dir;
}

void remove_config_dir() {
    std::error_code ignored;
    std::filesystem::remove_all(config_dir(), ignored);
}

void check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

// The protocol table and a log level that drops every record, in a
// configuration directory of this process's own.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    config_dir() = std::filesystem::temp_directory_path() / ("qn_fuzz_url_" + std::to_string(::getpid()));
    std::filesystem::create_directories(config_dir() / "Resource");
    {
        std::ofstream protocol(config_dir() / "Resource" / "Protocol.json");
        protocol << "{";
        const char* comma = "";
        for (const auto& entry : table()) {
            protocol << comma << '"' << entry.first << "\": \"" << entry.second << '"';
            comma = ", ";
        }
        protocol << "}";
        std::ofstream mjlog(config_dir() / "mjlog.dat");
        mjlog << "log_level=100\n";
    }
    ::setenv("MJ_CONFIG_DIR", (config_dir().string() + "/").c_str(), 1);
    // Registered before the library's own statics exist, so it runs after
    // them at exit.
    std::atexit(remove_config_dir);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    // GetNewUrl takes C text: it ends at the first NUL.
    const std::string url(bytes.c_str());
    const std::string result = HttpHeadDealwith::GetNewUrl(url.c_str());

    // The helpers take whole strings, NULs included.
    if (size < kCompareBelow) {
        check(result == urlref::get_new_url(url, table()));
        check(urlref::operations_agree(bytes));
    } else {
        HttpHeadDealwith::splitHostAndPathFromUrl(bytes);
        HttpHeadDealwith::isIpAddress(bytes);
        std::string swapped = bytes;
        HttpHeadDealwith::swapDefaultPort(swapped);
        HttpHeadDealwith::removeDefaultPort(bytes);
    }
    return 0;
}
