#include "host/module_loader.h"

#include <cstdio>
#include <string>

namespace {

// The executable's folder: its module file name, at most 260 characters as
// on the host's own platform, cut after the last separator.
const std::string& host_directory() {
    static const std::string dir = [] {
        std::string exe = qn::platform::executable_path();
        if (exe.size() > 260) exe.resize(260);
        const size_t cut = exe.find_last_of("/\\");
        return cut == std::string::npos ? std::string() : exe.substr(0, cut + 1);
    }();
    return dir;
}

}  // namespace

CModuleCache& CModuleCache::instance() {
    static CModuleCache* cache = new CModuleCache();  // lives until exit
    return *cache;
}

qn::platform::ModuleHandle CModuleCache::Get(const std::string& path) {
    qn::platform::MutexLock lock(mutex_);
    auto it = modules_.find(path);
    if (it != modules_.end()) return it->second;
    qn::platform::ModuleHandle module = qn::platform::load_module_path(path);
    if (module == nullptr) {
        const std::string report = "LoadLibrary[" + path + "] " + "fail" + " err:" +
                                   std::to_string(qn::platform::last_error()) + "\n";
        qn::platform::debug_output(report.c_str());
        return nullptr;
    }
    modules_.emplace(path, module);
    return module;
}

CModuleLoader::CModuleLoader(const char* windows_name)
    : path_(host_directory() + qn::platform::module_file_name(windows_name)) {
    module_ = CModuleCache::instance().Get(path_);
    if (module_ == nullptr) return;
    factory_ = reinterpret_cast<mj::PFN_CreateMJObject>(
        qn::platform::find_symbol(module_, mj::kFactoryName));
    if (factory_ == nullptr) {
        std::printf("dll_load [%s] [%s] err:%u\n", path_.c_str(), mj::kFactoryName,
                    static_cast<unsigned>(qn::platform::last_error()));
        std::fflush(stdout);
    }
}

mj::result_t CModuleLoader::CreateObject(const mj::MJCLSID& clsid, void** object) const {
    if (object == nullptr) return mj::MJ_E_POINTER;
    if (module_ == nullptr || factory_ == nullptr) return mj::MJ_E_FAIL;
    return factory_(&clsid, object);
}
