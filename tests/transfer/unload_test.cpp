// Threaded uploads have no stop: unloading the library aborts what still
// runs and joins every worker. This executable loads and unloads the
// library itself, in a child process, so that what the unloaded library
// never frees (its process-wide objects) is no leak of the test's.
#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "file_server.h"
#include "task_fixture.h"
#include "platform/platform.h"
#include "upload_server.h"

// A quick and a slow upload; the library is unloaded while the slow one
// sends. Reports the workers before and after, the unload's time and what
// the server got.
std::string load_upload_unload() {
    qntest::TempDir config, files;
    qntest::use_config_dir(config.path());
    qntest::UploadServer server;
    const std::string big = files.write("big", qntest::pattern(20u << 20)), small = files.write("s", "x");
    void* lib = ::dlopen((qn::platform::executable_dir() + "libquillnet.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    const auto start = reinterpret_cast<int64_t (*)(const char*, const char*, void*, TaskCallback)>(
        ::dlsym(lib, "quillnet_upload_urlfile_ex"));
    const auto getpos = reinterpret_cast<int (*)(int64_t)>(::dlsym(lib, "quillnet_getpos_upload_urlfile"));
    const int64_t quick = start(server.url("/q").c_str(), small.c_str(), nullptr, nullptr);
    const int64_t slow = start(server.url("/slow").c_str(), big.c_str(), nullptr, nullptr);
    if (!eventually([&] { return getpos(quick) == 100 && getpos(slow) > 0 && task_threads() == 1; })) return "?";
    const auto began = std::chrono::steady_clock::now();
    ::dlclose(lib);
    const bool quickly = std::chrono::steady_clock::now() - began < std::chrono::seconds(3);  // aborted, not waited
    const bool unloaded = ::dlopen("libquillnet.so", RTLD_NOW | RTLD_NOLOAD) == nullptr;
    eventually([&] { return server.uploads().size() == 2; });
    return std::to_string(unloaded) + std::to_string(quickly) + " running:" + std::to_string(task_threads()) +
           " whole:" + std::to_string(server.uploads()[0].complete) + std::to_string(server.uploads()[1].complete);
}

TEST(UploadUnload, AbortsAndJoins) {
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const std::string report = load_upload_unload();
        std::_Exit(::write(out[1], report.data(), report.size()) < 0 ? 2 : 0);
    }
    ::close(out[1]);
    char buf[256] = {};
    EXPECT_GT(::read(out[0], buf, sizeof buf - 1), 0);
    ::waitpid(pid, nullptr, 0);
    EXPECT_STREQ(buf, "11 running:0 whole:10");
}
