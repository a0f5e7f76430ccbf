#include "host/text_convert.h"

#include <memory>

#include "host/mj_ref.h"
#include "platform/platform.h"

namespace qn {

namespace {

// Buffers up to this size live in the converting function's own frame:
// paths and log lines, the common case, then cost no heap block besides
// the result string.
constexpr size_t kFixedAreaBytes = 4096;

// The converter is made once per process. MJBase is looked for among the
// modules already loaded and otherwise loaded by bare name with the
// platform's normal search, unlike the loaders of the other host objects,
// which load it by full path beside the executable. A converter that could
// not be made is not retried: every conversion then gives empty text.
mj::IMJTextConverter* converter() {
    static mj::IMJTextConverter* instance = [] {
        const std::string file = platform::module_file_name("MJBase.dll");
        platform::ModuleHandle module = platform::find_loaded_module(file.c_str());
        if (module == nullptr) module = platform::load_module(file.c_str());
        if (module == nullptr) return static_cast<mj::IMJTextConverter*>(nullptr);
        auto factory = reinterpret_cast<mj::PFN_CreateMJObject>(
            platform::find_symbol(module, mj::kFactoryName));
        if (factory == nullptr) return static_cast<mj::IMJTextConverter*>(nullptr);
        void* object = nullptr;
        if (factory(&mj::CLSID_MJTextConverter, &object) != mj::MJ_S_OK) object = nullptr;
        return static_cast<mj::IMJTextConverter*>(object);
    }();
    return instance;
}

// A destination block of `bytes`, in the fixed area when it fits.
class DestBuffer {
public:
    explicit DestBuffer(size_t bytes) {
        if (bytes > kFixedAreaBytes) {
            heap_.reset(new char[bytes]);
            data_ = heap_.get();
        }
    }
    void* data() { return data_; }

private:
    alignas(8) char fixed_[kFixedAreaBytes];
    std::unique_ptr<char[]> heap_;
    char* data_ = fixed_;
};

template <class Out, class In>
Out Convert(const In* text, size_t length, uint32_t code_page, uint32_t request, size_t capacity) {
    using OutChar = typename Out::value_type;
    if (length == 0) return Out();
    DestBuffer dest(capacity * sizeof(OutChar));
    mj::IMJTextConverter* raw = converter();
    if (raw == nullptr) return Out();
    // Each conversion holds its own reference while it calls the converter.
    host::MJRef<mj::IMJTextConverter> conv = host::MJRef<mj::IMJTextConverter>::Adopt(raw);
    raw->AddRef();
    mj::MJConvertRequest req;
    req.code_page = code_page;
    req.src_len = static_cast<uint32_t>(length);
    req.dst_cap = static_cast<uint32_t>(capacity);
    req.result = 0;
    req.src = text;
    req.dst = dest.data();
    conv->Convert(request, &req);
    // The converter terminates its output; stopping at the capacity as well
    // keeps a converter that does not from reading us past the block.
    const OutChar* out = static_cast<const OutChar*>(dest.data());
    size_t used = 0;
    while (used < capacity && out[used] != OutChar()) ++used;
    return Out(out, used);
}

size_t wide_length(const mj::wchar* text) {
    return text == nullptr ? 0 : std::char_traits<mj::wchar>::length(text);
}

}  // namespace

std::string WideToUtf8(const mj::wchar* text) {
    const size_t n = wide_length(text);
    return Convert<std::string>(text, n, mj::MJ_CP_UTF8, mj::MJ_CONVERT_FROM_WIDE, n * 4);
}

mjwstring Utf8ToWide(const char* text) {
    const size_t n = text == nullptr ? 0 : std::char_traits<char>::length(text);
    return Convert<mjwstring>(text, n, mj::MJ_CP_UTF8, mj::MJ_CONVERT_TO_WIDE, n * 2 + 4);
}

std::string WideToCp936(const mj::wchar* text) {
    const size_t n = wide_length(text);
    return Convert<std::string>(text, n, mj::MJ_CP_GBK, mj::MJ_CONVERT_FROM_WIDE, n * 4);
}

}  // namespace qn
