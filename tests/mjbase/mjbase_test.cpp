#include "mjbase_test.h"

#include "platform.h"

namespace mjtest {

mj::PFN_CreateMJObject factory() {
    static const mj::PFN_CreateMJObject create = [] {
        const std::string path =
            qn::platform::executable_dir() + qn::platform::module_file_name("MJBase.dll");
        qn::platform::ModuleHandle module = qn::platform::load_module_path(path);
        return reinterpret_cast<mj::PFN_CreateMJObject>(qn::platform::find_symbol(module, mj::kFactoryName));
    }();
    return create;
}

wstring widen(const std::string& utf8) {
    wstring out;
    for (size_t i = 0; i < utf8.size();) {
        const auto b = static_cast<unsigned char>(utf8[i]);
        char32_t c;
        size_t len;
        if (b < 0x80) {
            c = b, len = 1;
        } else if ((b & 0xE0) == 0xC0) {
            c = b & 0x1F, len = 2;
        } else {
            c = b & 0x0F, len = 3;
        }
        for (size_t k = 1; k < len && i + k < utf8.size(); ++k) c = (c << 6) | (utf8[i + k] & 0x3F);
        out += static_cast<mj::wchar>(c);
        i += len;
    }
    return out;
}

}  // namespace mjtest
