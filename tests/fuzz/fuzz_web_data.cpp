// A multipart description laid out as a host lays it out, from arbitrary bytes (names with CR/LF or no
// terminator, lengths beyond 32 bits): built only when usable, serialised reading only each part's own block.
#include <curl/curl.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "curl/transfer.h"
#include "fuzz_check.h"
#include "quillnet.h"
#include "submit/multipart_form.h"

namespace {
struct Free { void operator()(void* p) const { std::free(p); } };
uint8_t take(const uint8_t*& at, const uint8_t* end) { return at < end ? *at++ : 0; }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const uint8_t* at = data;
    const uint8_t* const end = data + size;
    std::vector<std::unique_ptr<web_part, Free>> parts;
    bool usable = true;
    while (at < end && parts.size() < 16) {
        const uint8_t kind = take(at, end) % 7;  // 0..6: the four sent kinds and skipped ones
        const size_t name_len = std::min<size_t>(take(at, end) * 2u, 260);
        const size_t data_len = take(at, end) * 4u;
        const uint8_t odd_length = take(at, end);  // 1: a negative length, 2: one of 4 GB
        // Exactly the bytes a part needs (text with its NUL).
        const size_t text_nul = kind <= 1 ? 1 : 0;
        web_part* part = static_cast<web_part*>(std::calloc(1, offsetof(web_part, data) + data_len + text_nul));
        part->type = kind;
        part->data_len = odd_length == 1 ? -1 : odd_length == 2 ? int64_t{1} << 32 : static_cast<int64_t>(data_len);
        for (size_t i = 0; i < name_len; ++i) part->name[i] = static_cast<char>(take(at, end));
        for (size_t i = 0; i < data_len; ++i) part->data[i] = static_cast<char>(take(at, end));
        const bool file = kind == WEB_PART_FILE || kind == WEB_PART_SENDFILE;
        const bool sent = file || kind == WEB_PART_FIELD_TYPED || kind == WEB_PART_FIELD;
        if (sent && (std::memchr(part->name, 0, sizeof(part->name)) == nullptr || std::strpbrk(part->name, "\r\n") != nullptr)) usable = false;
        if (file && odd_length != 0 && odd_length <= 2) usable = false;
        parts.emplace_back(part);
    }
    web_data_header header{0, static_cast<int>(parts.size())};
    std::unique_ptr<web_data, Free> description(static_cast<web_data*>(std::calloc(parts.size() + 2, sizeof(void*))));
    description->header = &header;
    for (size_t i = 0; i < parts.size(); ++i) description->parts[i] = parts[i].get();

    qn::curl::Form form;
    const bool built = qn::submit::add_web_parts(form, description.get());
    check(built == usable);
    check(built || form.get() == nullptr);
    size_t total = 0;
    if (form.get() != nullptr) {
        curl_formget(form.get(), &total, [](void* sum, const char*, size_t n) {
            *static_cast<size_t*>(sum) += n;
            return n;
        });
    }
    return 0;
}
