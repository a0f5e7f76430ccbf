// A host that loads the library and binds its exports by name at run time, as desktop hosts do, built from an
// installed tree through find_package(quillnet) only: one GET through the versioned records against the URL
// it is given, whose body must be the text it is given.
#include <dlfcn.h>

#include <cstdio>
#include <cstring>

#include <quillnet.h>

template <class Fn>
static Fn bind(void* lib, const char* name) {
    return reinterpret_cast<Fn>(dlsym(lib, name));
}

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    void* lib = dlopen("libquillnet.so", RTLD_NOW);
    if (lib == nullptr) {
        std::printf("C++ consumer: %s\n", dlerror());
        return 1;
    }
    auto startup = bind<decltype(&quillnet_startup)>(lib, "quillnet_startup");
    auto submit = bind<decltype(&quillnet_submit_common)>(lib, "quillnet_submit_common");
    auto release = bind<decltype(&quillnet_release)>(lib, "quillnet_release");
    auto cleanup = bind<decltype(&quillnet_cleanup)>(lib, "quillnet_cleanup");
    if (!startup || !submit || !release || !cleanup) return 1;

    char* body = nullptr;
    int length = 0;
    QuillnetSubmitParam param{0, sizeof(param), argv[1], 10, nullptr, 0, 1, 1};  // a GET of JSON
    QuillnetSubmitParamEx param_ex{};
    param_ex.size = sizeof(param_ex);
    param_ex.ret_buf = &body;
    param_ex.ret_buf_len = &length;
    startup();
    const bool ok = submit(&param, &param_ex) == 0 && body != nullptr &&
                    length == static_cast<int>(std::strlen(argv[2])) && std::strcmp(body, argv[2]) == 0;
    std::printf("C++ consumer (find_package, loaded by name): %d bytes, %s\n", length,
                ok ? "as expected" : "WRONG");
    release(&body);
    cleanup();
    return ok ? 0 : 1;
}
