// The option document on arbitrary text, in both modes: no crash, no line with
// CR or LF, lines only from a "headers" array; the time-out reader likewise.
#include <cstdint>
#include <string>

#include "curl/libcurl_wrapper.h"
#include "curl/transfer.h"
#include "fuzz_check.h"
#include "submit/param_doc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static CURL* const easy = CLibcurlWrapper::instance().curl_easy_init();  // for Digest credentials
    const std::string doc(reinterpret_cast<const char*>(data), size);
    for (const auto mode : {qn::submit::AuthDigestMode::kSendAsHeader, qn::submit::AuthDigestMode::kDigestCredentials}) {
        qn::curl::StringList headers;
        const qn::submit::ParamDocOutcome outcome = qn::submit::add_param_ex_headers(doc.c_str(), headers, mode, easy);
        size_t lines = 0;
        for (const curl_slist* line = headers.get(); line != nullptr; line = line->next, ++lines) {
            check(line->data != nullptr && !qn::curl::has_line_break(line->data));
        }
        check(outcome == qn::submit::ParamDocOutcome::kOk || lines == 0);
        check(headers.append("X-Last: 1"));  // the list's kept tail stays right
        const curl_slist* last = headers.get();
        while (last->next != nullptr) last = last->next;
        check(std::string(last->data) == "X-Last: 1");
    }
    qn::submit::param_ex_time_out(doc.c_str());
    return 0;
}
