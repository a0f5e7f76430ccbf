// Threaded uploads have no stop: the library keeps them, and unloading it
// aborts what still runs and joins every worker. This executable does not
// link the library: it loads and unloads it, as such a host does, in a
// child process, so that what the unloaded library never frees (its
// process-wide objects) is not held against the test by the leak check.
#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "file_server.h"
#include "fixture.h"
#include "platform/platform.h"
#include "upload_server.h"

namespace {

// Starts a quick and a slow threaded upload, unloads the library while the
// slow one is sending; reports the threads before and after, and the time
// the unload took, and what the server got.
std::string load_upload_unload() {
    qntest::TempDir config, files;
    qntest::use_config_dir(config.path());
    qntest::UploadServer server;
    const std::string big = files.write("big", qntest::pattern(20u << 20)), small = files.write("s", "x");
    void* lib = ::dlopen((qn::platform::executable_dir() + "libquillnet.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    if (lib == nullptr) return std::string("dlopen: ") + ::dlerror();
    reinterpret_cast<int (*)()>(::dlsym(lib, "quillnet_startup"))();
    const auto start = reinterpret_cast<int64_t (*)(const char*, const char*, void*, TaskCallback)>(
        ::dlsym(lib, "quillnet_upload_urlfile_ex"));
    const auto getpos = reinterpret_cast<int (*)(int64_t)>(::dlsym(lib, "quillnet_getpos_upload_urlfile"));
    const int64_t quick = start(server.url("/q").c_str(), small.c_str(), nullptr, nullptr);
    const int64_t slow = start(server.url("/slow").c_str(), big.c_str(), nullptr, nullptr);
    if (!eventually([&] { return getpos(quick) == 100 && getpos(slow) > 0 && task_threads() == 1; })) {
        return "no progress";
    }
    std::string report = "running:" + std::to_string(task_threads());
    const auto began = std::chrono::steady_clock::now();
    ::dlclose(lib);
    const bool quickly = std::chrono::steady_clock::now() - began < std::chrono::seconds(3);  // aborted, not waited out
    const bool unloaded = ::dlopen("libquillnet.so", RTLD_NOW | RTLD_NOLOAD) == nullptr;
    report += " unloaded:" + std::to_string(unloaded) + " quickly:" + std::to_string(quickly) +
              " running:" + std::to_string(task_threads()) + " whole:";
    if (!eventually([&] { return server.uploads().size() == 2; })) return report + "?";
    return report + std::to_string(server.uploads()[0].complete) + std::to_string(server.uploads()[1].complete);
}

}  // namespace

TEST(UploadUnload, AbortsAndJoins) {
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        const std::string report = load_upload_unload();
        if (::write(out[1], report.data(), report.size()) < 0) std::_Exit(2);
        std::_Exit(0);
    }
    ::close(out[1]);
    std::string report;
    char buf[256];
    for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) > 0;) report.append(buf, static_cast<size_t>(n));
    ::close(out[0]);
    ::waitpid(pid, nullptr, 0);
    // The quick one had ended, the slow one was still sending.
    EXPECT_EQ(report, "running:1 unloaded:1 quickly:1 running:0 whole:10");
}
