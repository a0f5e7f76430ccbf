#include <iconv.h>

#include <cerrno>
#include <cstring>

#include "object.h"

namespace mjbase {

namespace {

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
constexpr const char kWideEncoding[] = "UTF-16BE";
#else
constexpr const char kWideEncoding[] = "UTF-16LE";
#endif

const char* EncodingOf(uint32_t code_page) {
    switch (code_page) {
    case mj::MJ_CP_UTF8:
        return "UTF-8";
    case mj::MJ_CP_GBK:
        return "GBK";
    default:
        return nullptr;
    }
}

// iconv descriptors carry conversion state and must not be shared between
// threads; opening one per call costs a module lookup under a global lock.
// So every thread keeps its own, opened on first use and closed when the
// thread ends.
class ThreadDescriptors {
public:
    ThreadDescriptors() = default;
    ThreadDescriptors(const ThreadDescriptors&) = delete;
    ThreadDescriptors& operator=(const ThreadDescriptors&) = delete;
    ~ThreadDescriptors() {
        for (iconv_t& cd : slots_) {
            if (cd != kNone) iconv_close(cd);
        }
    }

    // Null (as kNone) when the system cannot convert this pair.
    iconv_t Get(bool to_wide, uint32_t code_page) {
        const int index = (to_wide ? 2 : 0) + (code_page == mj::MJ_CP_GBK ? 1 : 0);
        iconv_t& cd = slots_[index];
        if (cd == kNone) {
            const char* narrow = EncodingOf(code_page);
            cd = to_wide ? iconv_open(kWideEncoding, narrow) : iconv_open(narrow, kWideEncoding);
        } else {
            iconv(cd, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
        }
        return cd;
    }

    static inline const iconv_t kNone = reinterpret_cast<iconv_t>(-1);

private:
    iconv_t slots_[4] = {kNone, kNone, kNone, kNone};
};

void Terminate(void* dst, size_t unit_index, size_t unit_size) {
    std::memset(static_cast<char*>(dst) + unit_index * unit_size, 0, unit_size);
}

class TextConverter final : public Object<TextConverter, mj::IMJTextConverter> {
public:
    mj::result_t MJ_CALL Convert(uint32_t request, mj::MJConvertRequest* req) override {
        if (req == nullptr) return mj::MJ_E_POINTER;
        req->result = 0;
        if (req->dst_cap > 0 && req->dst == nullptr) return mj::MJ_E_POINTER;

        if (request != mj::MJ_CONVERT_FROM_WIDE && request != mj::MJ_CONVERT_TO_WIDE) {
            // The destination unit is unknown; two zero bytes end the text
            // either way, one is all a one-unit narrow buffer can take.
            if (req->dst_cap > 0) std::memset(req->dst, 0, req->dst_cap >= 2 ? 2 : 1);
            return mj::MJ_E_FAIL;
        }
        const bool to_wide = request == mj::MJ_CONVERT_TO_WIDE;
        const size_t src_unit = to_wide ? 1 : sizeof(mj::wchar);
        const size_t dst_unit = to_wide ? sizeof(mj::wchar) : 1;
        if (req->dst_cap == 0) return req->src_len == 0 ? mj::MJ_S_OK : mj::MJ_E_MORE_DATA;
        Terminate(req->dst, 0, dst_unit);

        if (EncodingOf(req->code_page) == nullptr) return mj::MJ_E_FAIL;
        if (req->src_len == 0) return mj::MJ_S_OK;
        if (req->src == nullptr) return mj::MJ_E_POINTER;

        thread_local ThreadDescriptors descriptors;
        iconv_t cd = descriptors.Get(to_wide, req->code_page);
        if (cd == ThreadDescriptors::kNone) return mj::MJ_E_FAIL;

        // One unit stays free for the terminator. iconv only ever writes
        // whole characters, so running out of room cuts at a boundary.
        char* in = const_cast<char*>(static_cast<const char*>(req->src));
        size_t in_left = static_cast<size_t>(req->src_len) * src_unit;
        char* out = static_cast<char*>(req->dst);
        const size_t room = (static_cast<size_t>(req->dst_cap) - 1) * dst_unit;
        size_t out_left = room;
        const size_t rc = iconv(cd, &in, &in_left, &out, &out_left);
        const int err = rc == static_cast<size_t>(-1) ? errno : 0;

        const size_t written = (room - out_left) / dst_unit;
        Terminate(req->dst, written, dst_unit);
        req->result = static_cast<uint32_t>(written);

        if (err == 0) return mj::MJ_S_OK;
        if (err == E2BIG) return mj::MJ_E_MORE_DATA;
        return mj::MJ_E_FAIL;  // EILSEQ, or EINVAL: a sequence cut off at the end of the input
    }
};

}  // namespace

mj::IMJObject* NewTextConverter() {
    return mj::NewObject<TextConverter>();
}

}  // namespace mjbase
