// The binding in this test looks for "libqn_engine_under_test.so" beside the
// executable; the test puts nothing, an incomplete engine, then the real
// libcurl there, in one process, as a host would on successive starts.
#include <dlfcn.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "curl/libcurl_wrapper.h"
#include "platform/platform.h"

namespace {

std::string message_of_first_load() {
    try {
        CLibcurlWrapper::instance();
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "no exception";
}

std::string real_libcurl_path() {
    void* h = ::dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
    if (h == nullptr) return std::string();
    Dl_info info{};
    void* sym = ::dlsym(h, "curl_easy_init");
    std::string path = (sym != nullptr && ::dladdr(sym, &info) != 0) ? info.dli_fname : "";
    return path;  // h stays loaded; harmless in a test process
}

}  // namespace

TEST(CurlBinding, MissingThenIncompleteThenRealEngine) {
    const std::string dir = qn::platform::executable_dir();
    const std::string engine = dir + "libqn_engine_under_test.so";
    const std::string stub = dir + QN_STUB_ENGINE;
    ::unlink(engine.c_str());

    EXPECT_EQ(message_of_first_load(), "Failed to load libcurl");
    // A failed load leaves nothing behind: the next call tries again.
    EXPECT_EQ(message_of_first_load(), "Failed to load libcurl");

    ASSERT_EQ(::symlink(stub.c_str(), engine.c_str()), 0);
    EXPECT_EQ(message_of_first_load(), "Failed to resolve symbols from libcurl.");
    // The incomplete engine was unloaded again.
    EXPECT_EQ(::dlopen(stub.c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr);
    ::unlink(engine.c_str());

    const std::string real = real_libcurl_path();
    ASSERT_FALSE(real.empty());
    ASSERT_EQ(::symlink(real.c_str(), engine.c_str()), 0);

    // Concurrent first callers share one creation.
    std::vector<std::thread> threads;
    std::vector<CLibcurlWrapper*> seen(8, nullptr);
    for (size_t i = 0; i < seen.size(); ++i) {
        threads.emplace_back([&seen, i] { seen[i] = &CLibcurlWrapper::instance(); });
    }
    for (auto& t : threads) t.join();
    for (CLibcurlWrapper* w : seen) EXPECT_EQ(w, seen.front());

    CLibcurlWrapper& curl = CLibcurlWrapper::instance();

    EXPECT_EQ(curl.curl_global_init(CURL_GLOBAL_ALL), CURLE_OK);
    CURL* easy = curl.curl_easy_init();
    ASSERT_NE(easy, nullptr);
    EXPECT_STREQ(curl.curl_easy_strerror(CURLE_OK), "No error");
    curl.curl_easy_cleanup(easy);
    curl.curl_global_cleanup();
    ::unlink(engine.c_str());
}
