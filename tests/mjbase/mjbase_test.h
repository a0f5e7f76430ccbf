// Host modules loaded from beside the executable, references, UTF-16 texts.
#ifndef QN_TEST_MJBASE_TEST_H
#define QN_TEST_MJBASE_TEST_H

#include <memory>
#include <string>

#include <mj/mj_interfaces.h>

#include "platform.h"

namespace mjtest {

struct Releaser { void operator()(mj::IMJObject* object) const { object->Release(); } };
template <class T>
using Ref = std::unique_ptr<T, Releaser>;

// The module stays loaded for good; null when either is missing.
inline void* module_symbol(const char* windows_name, const char* symbol) {
    const std::string path = qn::platform::executable_dir() + qn::platform::module_file_name(windows_name);
    return qn::platform::find_symbol(qn::platform::load_module_path(path), symbol);
}

inline mj::PFN_CreateMJObject mjbase() {
    static const auto create = reinterpret_cast<mj::PFN_CreateMJObject>(module_symbol("MJBase.dll", mj::kFactoryName));
    return create;
}

template <class T>
Ref<T> create(const mj::MJCLSID& clsid, mj::PFN_CreateMJObject factory = mjbase()) {
    void* object = nullptr;
    if (factory == nullptr || factory(&clsid, &object) != mj::MJ_S_OK) return nullptr;
    return Ref<T>(static_cast<T*>(object));
}

// From u"" literals or ASCII.
using wstring = std::basic_string<mj::wchar>;
inline wstring W(const std::u16string& s) { return wstring(s.begin(), s.end()); }
inline wstring W(const std::string& ascii) { return wstring(ascii.begin(), ascii.end()); }

}  // namespace mjtest

#endif
