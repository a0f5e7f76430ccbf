// Loading the host's modules and creating their objects by class id.
#ifndef QN_HOST_MODULE_LOADER_H
#define QN_HOST_MODULE_LOADER_H

#include <map>
#include <string>

#include "host/mj_ref.h"
#include "platform/platform.h"
#include "platform/thread_safety.h"

// Process-wide map from module path to loaded module. Modules are loaded
// once and never unloaded; a failed load is not remembered, so the next
// loader tries (and reports) again.
class CModuleCache {
public:
    static CModuleCache& instance();
    qn::platform::ModuleHandle Get(const std::string& path) QN_EXCLUDES(mutex_);

private:
    CModuleCache() = default;
    qn::platform::Mutex mutex_;
    std::map<std::string, qn::platform::ModuleHandle> modules_ QN_GUARDED_BY(mutex_);
};

// One module file beside the host executable and its CreateMJObject.
class CModuleLoader {
public:
    // `windows_name` is the module's Windows file name ("MJBase.dll");
    // the platform layer maps it to this system's file name.
    explicit CModuleLoader(const char* windows_name);

    // MJ_E_POINTER for a null out-pointer, MJ_E_FAIL when module or
    // factory is missing, otherwise the factory's own result.
    mj::result_t CreateObject(const mj::MJCLSID& clsid, void** object) const;

    template <class T>
    qn::host::MJRef<T> Create(const mj::MJCLSID& clsid) const {
        qn::host::MJRef<T> ref;
        CreateObject(clsid, ref.put());
        return ref;
    }

    const std::string& path() const { return path_; }
    // Module loaded and factory found.
    bool ready() const { return factory_ != nullptr; }

private:
    std::string path_;
    qn::platform::ModuleHandle module_ = nullptr;
    mj::PFN_CreateMJObject factory_ = nullptr;
};

#endif  // QN_HOST_MODULE_LOADER_H
