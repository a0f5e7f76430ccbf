// A Windows host that unloads the library while it is busy: after a cached request (the cache's clean-up
// thread runs), with a threaded upload and an asynchronous download running. FreeLibrary must return at once:
// nothing may wait for a thread under the loader lock. The threads keep the module loaded until they have
// ended, so none runs unloaded code; a second load meanwhile finds the library working, and once every thread
// has ended the module is gone. This executable loads the library, as such a host does, without linking it.
#include <winsock2.h>  // before windows.h, for the test servers
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>

#include "quillnet.h"
#include "temp_dir.h"
#include "http_server.h"

namespace {

constexpr char kLibrary[] = "win32_quillnet.dll";

using Clock = std::chrono::steady_clock;

long long ms_since(Clock::time_point began) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - began).count();
}

template <class Fn>
Fn symbol(HMODULE lib, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(lib, name)));
}

// quillnet_submit_ex of `body` to `url`: the answer, or "failed".
std::string submit(HMODULE lib, const std::string& url, const char* body) {
    using Submit = int (*)(const char*, int, const char*, int, char**, int*);
    using Release = int (*)(char**);
    char* answer = nullptr;
    int len = 0;
    if (symbol<Submit>(lib, "quillnet_submit_ex")(url.c_str(), 10, body, 1, &answer, &len) != 0) return "failed";
    std::string text(answer, static_cast<size_t>(len));
    symbol<Release>(lib, "quillnet_release")(&answer);
    return text;
}

}  // namespace

TEST(WindowsUnload, FreeLibraryReturnsAtOnceWhileTheLibraryIsBusy) {
    qntest::TempDir config, files;
    qntest::use_config_dir(config.path());
    qntest::FileServer downloads;
    qntest::HttpServer uploads;  // which answers the tree requests too
    uploads.serve_uploads().start();
    const std::string source = files.write("up", qntest::pattern(4u << 20));  // about 2 s to the slow reader
    const std::string tree = uploads.url("/plume/device/queryDeviceOrgTree");

    HMODULE lib = ::LoadLibraryA(kLibrary);
    ASSERT_NE(lib, nullptr);
    ASSERT_EQ(symbol<int (*)()>(lib, "quillnet_startup")(), 1);
    EXPECT_EQ(submit(lib, tree, "q"), "parts:0");  // stored: the clean-up thread runs
    using Upload = int64_t (*)(const char*, const char*, void*, TaskCallback);
    using Download = int64_t (*)(const char*, const char*, const char*, int, int, int, const char*, int, void*,
                                 TaskCallback);
    const int64_t upload = symbol<Upload>(lib, "quillnet_upload_urlfile_ex")(uploads.url("/slow").c_str(),
                                                                             source.c_str(), nullptr, nullptr);
    const int64_t download = symbol<Download>(lib, "quillnet_download_asyn_urlfile")(
        downloads.url("/slow/400000").c_str(), (files.path() + "/down").c_str(), nullptr, 0, 1, 1, nullptr, 0,
        nullptr, nullptr);
    ASSERT_NE(upload, -1);
    ASSERT_NE(download, -1);

    const Clock::time_point began = Clock::now();
    EXPECT_TRUE(::FreeLibrary(lib));
    const long long took = ms_since(began);
    std::printf("FreeLibrary returned after %lld ms\n", took);
    EXPECT_LT(took, 1000);

    HMODULE again = ::LoadLibraryA(kLibrary);
    ASSERT_NE(again, nullptr);
    ASSERT_EQ(symbol<int (*)()>(again, "quillnet_startup")(), 1);
    EXPECT_EQ(submit(again, tree, "q") + submit(again, tree, "r"), "parts:0parts:0");
    EXPECT_TRUE(::FreeLibrary(again));

    // The tasks end by themselves within seconds, the clean-up thread once the cache is empty (ten seconds for
    // the answers, ten more at most for its next purge): then the module goes, from the last of them.
    const Clock::time_point freed = Clock::now();
    while (::GetModuleHandleA(kLibrary) != nullptr && ms_since(freed) < 60000) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    std::printf("module unloaded %lld ms after the last FreeLibrary\n", ms_since(freed));
    EXPECT_EQ(::GetModuleHandleA(kLibrary), nullptr);
}
