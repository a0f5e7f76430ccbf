// mjlog.dat on arbitrary bytes: no crash, no read past what a line may
// hold, and entries only as the reader defines them: two non-empty pieces
// around "=", neither holding "=" or a line end, the key at most 254
// characters.
#include <cstdint>
#include <cstdio>
#include <string>

#include "fuzz_config.h"
#include "log/logger.h"

using qnfuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::FILE* file = ::fmemopen(const_cast<uint8_t*>(data), size, "r");
    if (file == nullptr) return 0;  // fmemopen refuses an empty buffer
    const qn::log::ConfigMap config = qn::log::ParseConfig(file);
    std::fclose(file);
    for (const auto& entry : config) {
        const std::string& key = entry.first;
        check(!key.empty() && key.size() <= 254);
        check(key.find_first_of("=\n") == std::string::npos);
    }
    qn::log::LogSettings settings;
    qn::log::ApplyConfig(config, &settings);
    return 0;
}
