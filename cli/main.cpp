// quillnet host program: loads the library at run time from beside itself,
// the way a desktop host does, and drives it.
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>

#include "mj/mj_interfaces.h"
#include "platform.h"
#include "quillnet.h"

namespace {

struct Library {
    qn::platform::ModuleHandle module = nullptr;
    decltype(&quillnet_startup) startup = nullptr;
    decltype(&quillnet_cleanup) cleanup = nullptr;
    decltype(&quillnet_release) release = nullptr;

    template <class Fn>
    bool bind(const char* name, Fn& slot) {
        slot = reinterpret_cast<Fn>(qn::platform::find_symbol(module, name));
        if (slot == nullptr) std::fprintf(stderr, "quillnet: %s missing from the library\n", name);
        return slot != nullptr;
    }

    bool load() {
        const std::string file = qn::platform::module_file_name("win32_quillnet.dll");
        module = qn::platform::load_module(file.c_str());
        if (module == nullptr) {
            std::fprintf(stderr, "quillnet: cannot load %s beside %s\n", file.c_str(),
                         qn::platform::executable_dir().c_str());
            return false;
        }
        bool ok = bind("quillnet_startup", startup);
        ok = bind("quillnet_cleanup", cleanup) && ok;
        ok = bind("quillnet_release", release) && ok;
        return ok;
    }
};

// Where the host's log sink writes: asked of MJBase's environment object,
// like the library does.
std::string log_file_path() {
    const std::string file = qn::platform::module_file_name("MJBase.dll");
    qn::platform::ModuleHandle mjbase = qn::platform::load_module(file.c_str());
    auto factory = reinterpret_cast<mj::PFN_CreateMJObject>(
        qn::platform::find_symbol(mjbase, mj::kFactoryName));
    if (factory == nullptr) return "(MJBase missing: no log)";
    void* object = nullptr;
    if (factory(&mj::CLSID_MJEnvironment, &object) != mj::MJ_S_OK || object == nullptr) return "?";
    auto* env = static_cast<mj::IMJEnvironment*>(object);
    std::string dir;
    if (const mj::wchar* w = env->GetValue(mj::MJ_ENV_CONFIG_DIR, 0)) {
        for (; *w != 0; ++w) dir += static_cast<char>(*w);  // ASCII is enough for a report
    }
    env->Release();
    return dir + "log/quillnet.log";
}

int run_demo(Library& lib) {
    std::printf("quillnet_startup() = %d\n", lib.startup());
    char* nothing = nullptr;
    std::printf("quillnet_release(&nothing) = %d\n", lib.release(&nothing));
    std::printf("quillnet_cleanup() = %d\n", lib.cleanup());
    std::printf("quillnet_cleanup() again = %d (logged \"!s_is_startup\")\n", lib.cleanup());
    std::printf("log: %s\n", log_file_path().c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    (void)argc;
    (void)argv;
    Library lib;
    if (!lib.load()) return 2;
    try {
        return run_demo(lib);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "quillnet: %s\n", e.what());
        return 1;
    }
}
