// Threaded uploads have no stop: the library keeps them, and unloading it
// aborts what still runs, joins every worker and frees every record (the
// leak check of the sanitizer build sees any that stays). This executable
// does not link the library: it loads and unloads it, as such a host does.
#include <dlfcn.h>

#include "file_server.h"
#include "fixture.h"
#include "platform/platform.h"
#include "upload_server.h"

TEST(UploadUnload, AbortsJoinsAndFrees) {
    qntest::TempDir config, files;
    qntest::use_config_dir(config.path());
    qntest::UploadServer server;
    const std::string big = files.write("big", qntest::pattern(20u << 20)), small = files.write("s", "x");
    void* lib = ::dlopen((qn::platform::executable_dir() + "libquillnet.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << ::dlerror();
    reinterpret_cast<int (*)()>(::dlsym(lib, "quillnet_startup"))();
    const auto start = reinterpret_cast<int64_t (*)(const char*, const char*, void*, TaskCallback)>(
        ::dlsym(lib, "quillnet_upload_urlfile_ex"));
    const auto getpos = reinterpret_cast<int (*)(int64_t)>(::dlsym(lib, "quillnet_getpos_upload_urlfile"));
    const int64_t quick = start(server.url("/q").c_str(), small.c_str(), nullptr, nullptr);
    const int64_t slow = start(server.url("/slow").c_str(), big.c_str(), nullptr, nullptr);
    ASSERT_TRUE(eventually([&] { return getpos(quick) == 100 && getpos(slow) > 0 && server.uploads().size() == 1; }));
    EXPECT_EQ(task_threads(), 1);  // the quick one has ended, the slow one is still sending

    const auto began = std::chrono::steady_clock::now();
    ::dlclose(lib);
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(3));  // aborted, not waited out
    EXPECT_EQ(::dlopen("libquillnet.so", RTLD_NOW | RTLD_NOLOAD), nullptr);
    EXPECT_EQ(task_threads(), 0);
    ASSERT_TRUE(eventually([&] { return server.uploads().size() == 2; }));
    EXPECT_FALSE(server.uploads().back().complete);
}
