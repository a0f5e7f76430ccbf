// Threaded uploads have no stop: the unload (in a child) aborts and joins them.
#include <dlfcn.h>

#include "platform/platform.h"
#include "task_fixture.h"

// Unloaded while the slow one sends: quickly, no worker left, the quick one whole.
TEST(UploadUnload, AbortsAndJoins) {
    EXPECT_EQ(qntest::in_child([] {
        qntest::TempDir config, files;
        qntest::use_config_dir(config.path());
        qntest::HttpServer server;
        server.serve_uploads().start();
        const std::string big = files.write("big", pattern(20u << 20)), small = files.write("s", "x");
        void* lib = ::dlopen((qn::platform::executable_dir() + "libquillnet.so").c_str(), RTLD_NOW | RTLD_LOCAL);
        const auto start = reinterpret_cast<int64_t (*)(const char*, const char*, void*, TaskCallback)>(
            ::dlsym(lib, "quillnet_upload_urlfile_ex"));
        const auto getpos = reinterpret_cast<int (*)(int64_t)>(::dlsym(lib, "quillnet_getpos_upload_urlfile"));
        const int64_t quick = start(server.url("/q").c_str(), small.c_str(), nullptr, nullptr);
        const int64_t slow = start(server.url("/slow").c_str(), big.c_str(), nullptr, nullptr);
        if (!eventually([&] { return getpos(quick) == 100 && getpos(slow) > 0 && task_threads() == 1; })) {
            return std::string("?");
        }
        const auto began = std::chrono::steady_clock::now();
        ::dlclose(lib);
        const bool quickly = std::chrono::steady_clock::now() - began < std::chrono::seconds(3);
        const bool unloaded = ::dlopen("libquillnet.so", RTLD_NOW | RTLD_NOLOAD) == nullptr;
        eventually([&] { return server.uploads().size() == 2; });
        return std::to_string(unloaded) + std::to_string(quickly) + " running:" + std::to_string(task_threads()) +
               " whole:" + std::to_string(server.uploads()[0].complete) + std::to_string(server.uploads()[1].complete);
    }), "11 running:0 whole:10");
}
