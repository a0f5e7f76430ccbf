// The binding here looks for QN_CURL_MODULE_NAME beside the executable: nothing, a stub, then the real libcurl.
#if defined(_WIN32)
#include <winsock2.h>  // before windows.h, as curl.h includes it
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "curl/libcurl_wrapper.h"
#include "platform/platform.h"

namespace {

std::string message_of_first_load() {
    try {
        return CLibcurlWrapper::instance().curl_easy_init ? "no exception" : "";
    } catch (const std::runtime_error& e) {
        return e.what();
    }
}

#if defined(_WIN32)
// A loaded module's file stays locked: the engine is put in place as a copy.
int put_engine(const std::string& target, const std::string& path) {
    return ::CopyFileA(target.c_str(), path.c_str(), FALSE) ? 0 : -1;
}
void remove_engine(const std::string& path) { ::DeleteFileA(path.c_str()); }
bool is_loaded(const std::string& path) { return ::GetModuleHandleA(path.c_str()) != nullptr; }
std::string real_libcurl_path() { return qn::platform::executable_dir() + "../libcurl.dll"; }
#else
int put_engine(const std::string& target, const std::string& path) { return ::symlink(target.c_str(), path.c_str()); }
void remove_engine(const std::string& path) { ::unlink(path.c_str()); }
bool is_loaded(const std::string& path) { return ::dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD) != nullptr; }
std::string real_libcurl_path() {
    Dl_info info{};
    void* sym = ::dlsym(::dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL), "curl_easy_init");
    return sym != nullptr && ::dladdr(sym, &info) != 0 ? info.dli_fname : "";
}
#endif

}  // namespace

TEST(CurlBinding, MissingThenIncompleteThenRealEngine) {
    const std::string dir = qn::platform::executable_dir(), engine = dir + QN_CURL_MODULE_NAME, stub = dir + QN_STUB_ENGINE;
    remove_engine(engine);
    EXPECT_EQ(message_of_first_load(), "Failed to load libcurl");
    EXPECT_EQ(message_of_first_load(), "Failed to load libcurl");  // tried again
    ASSERT_EQ(put_engine(stub, engine), 0);
    EXPECT_EQ(message_of_first_load(), "Failed to resolve symbols from libcurl.");
    EXPECT_FALSE(is_loaded(engine));  // unloaded again
    remove_engine(engine);
    const std::string real = real_libcurl_path();
    ASSERT_FALSE(real.empty());
    ASSERT_EQ(put_engine(real, engine), 0);
    std::vector<std::thread> threads;  // concurrent first callers share one creation
    std::vector<CLibcurlWrapper*> seen(8, nullptr);
    for (size_t i = 0; i < seen.size(); ++i) threads.emplace_back([&seen, i] { seen[i] = &CLibcurlWrapper::instance(); });
    for (auto& t : threads) t.join();
    for (CLibcurlWrapper* w : seen) EXPECT_EQ(w, seen.front());
    EXPECT_STREQ(CLibcurlWrapper::instance().curl_easy_strerror(CURLE_OK), "No error");
    remove_engine(engine);
}

TEST(CurlBinding, EngineWithoutTheShareInterfaceStillLoads) {
    const std::string dir = qn::platform::executable_dir(), engine = dir + QN_CURL_MODULE_NAME;
    remove_engine(engine);
    ASSERT_EQ(put_engine(dir + QN_STUB_TWENTY_ENGINE, engine), 0);
    const CLibcurlWrapper& curl = CLibcurlWrapper::instance();
    EXPECT_NE(curl.curl_easy_strerror, nullptr);
    EXPECT_TRUE(!curl.curl_share_init && !curl.curl_share_setopt && !curl.curl_share_cleanup);
    remove_engine(engine);
}
