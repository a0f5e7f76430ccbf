// A log record whose long texts are lent rather than copied is converted
// piece by piece: whatever the pieces hold and wherever they are cut (inside
// a character, at a NUL, empty), the wide text is the one the joined record
// converts to.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_config.h"
#include "host/text_convert.h"

using qnfuzz::check;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    qnfuzz::use_quiet_config_dir("qn_fuzz_record_text");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    // The first byte chooses up to five cuts; the rest is the text.
    const size_t cuts = data[0] % 6;
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::vector<qn::TextPiece> pieces;
    size_t from = 0;
    for (size_t i = 0; i < cuts; ++i) {
        const size_t to = text.empty() ? 0 : from + (text.size() - from) * (i + 1) / (cuts + 1);
        pieces.push_back({text.data() + from, to - from});
        from = to;
    }
    pieces.push_back({text.data() + from, text.size() - from});
    const qn::WideText wide = qn::Utf8ToWideText(pieces.data(), pieces.size());
    const qn::mjwstring joined = qn::Utf8ToWide(text.c_str());
    check(qn::mjwstring(wide.c_str(), wide.size()) == joined);
    check(wide.c_str()[wide.size()] == 0);
    return 0;
}
