// Every C++ allocation an export makes on the caller's thread fails in turn:
// the right answer or the failure value with nothing handed out or leaked.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <string>

#include "log_file.h"
#include "quillnet.h"
#include "raw_http_server.h"
#include "submit_helpers.h"
#include "temp_dir.h"

namespace {

thread_local long t_countdown = -1;  // allocations to let through before one fails
thread_local bool t_failed = false;

void* allocate(std::size_t size) {
    if (t_countdown == 0) {
        t_countdown = -1;
        t_failed = true;
        throw std::bad_alloc();
    }
    if (t_countdown > 0) --t_countdown;
    if (void* p = std::malloc(size != 0 ? size : 1)) return p;
    throw std::bad_alloc();
}

}  // namespace

// The whole process allocates through these, the host modules included.
void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace {

// Verdicts: "ok" (the right answer), "failed" (the failure value, nothing handed out) or what went wrong.
std::string submitted(int r, char*& body, const char* answer) {
    t_countdown = -1;
    std::string verdict = r == 0 && body != nullptr && std::string(body) == answer ? "ok"
                          : r == -1 && body == nullptr ? "failed" : "result " + std::to_string(r);
    quillnet_release(&body);
    return verdict;
}

TEST(OutOfMemory, EveryFailedAllocationEndsInTheFailureValue) {
#if defined(_WIN32)
    GTEST_SKIP() << "each Windows module keeps its own operator new: the test's replacement reaches no DLL";
#endif
    qntest::TempDir config;
    qntest::use_config_dir(config.path());
    qntest::LogReader log(config.path());
    qntest::RawHttpServer server([](qntest::RawConnection& c) {
        c.send(c.request().target() == "/file"
                   ? qntest::RawHttpServer::response(200, "answer")
                   : qntest::RawHttpServer::response(302, "answer", {"Location: /next", "Set-Cookie: sid=1; Path=/"}));
    });
    server.start();
    ASSERT_EQ(quillnet_startup(), 1);
    const std::string plain = server.url("/plain"), file = server.url("/file");
    const std::string tree = server.url("/plume/device/queryDeviceOrgTree");  // through the request cache
    const std::string target = config.file("downloaded");
    const char* const doc = R"({"headers":["X-A: 1"]})";
    web_data_header header{0, 0};
    web_data form{&header, {nullptr}};
    int serial = 0;  // a new question to the cache each time, so that it is fetched
    char* body = nullptr;

    const std::pair<const char*, std::function<std::string()>> cases[] = {
        {"ex on a cached path",
         [&] {
             const std::string question = std::to_string(++serial);
             return submitted(quillnet_submit_ex(tree.c_str(), 10, question.c_str(), 0, &body, nullptr), body,
                              "answer");
         }},
        {"ex7 with document, redirect and cookies",
         [&] {
             long code = 0;
             char* redirect = nullptr;
             char* cookies = nullptr;
             int cookies_len = 0;
             const int r = quillnet_submit_ex7(plain.c_str(), 10, "x", 0, 2, 2, doc, &body, nullptr, &code, &redirect,
                                               1, &cookies, &cookies_len, "c=1", nullptr);
             quillnet_release_redirect_url(redirect);
             quillnet_release(&cookies);
             return submitted(r, body, "answer");
         }},
        {"multipart with document",
         [&] {
             return submitted(quillnet_submit_multipart_ex(plain.c_str(), 10, &form, 0, doc, &body, nullptr), body,
                              "answer");
         }},
        {"download with document and cookie",
         [&] {
             const int r = quillnet_download_urlfile_ex3(file.c_str(), target.c_str(), doc, "c=1");
             t_countdown = -1;
             const std::string got = qntest::file_exists(target) ? qntest::read_file(target) : "";
             std::remove(target.c_str());
             return r == 1 && got == "answer" ? "ok" : r == 0 ? "failed" : "result " + std::to_string(r);
         }},
    };
    for (const auto& [name, run] : cases) {
        SCOPED_TRACE(name);
        long k = 0;
        for (;; ++k) {
            ASSERT_LT(k, 20000) << "allocations without end";
            t_failed = false;
            t_countdown = k;
            const std::string verdict = run();
            t_countdown = -1;
            EXPECT_TRUE(verdict == "ok" || verdict == "failed") << verdict << ", allocation " << k;
            if (!t_failed) {  // every allocation of the call has failed once
                EXPECT_EQ(verdict, "ok");
                break;
            }
        }
        EXPECT_GT(k, 0);
    }
    // The task starts (not their workers): a handle, or -1 with nothing taken.
    const std::string source = config.write("up", "data");
    qntest::Form parts;
    parts.add(WEB_PART_SENDFILE, "a.bin", "xyz").add(WEB_PART_FIELD, "f", "v");
    const int doc_len = static_cast<int>(std::strlen(doc));
    const std::pair<std::function<int64_t()>, int (*)(int64_t)> starts[] = {
        {[&] { return quillnet_download_urlfile_ex(file.c_str(), target.c_str(), nullptr, nullptr); },
         quillnet_stop_download_urlfile},
        {[&] {
             return quillnet_download_asyn_urlfile(file.c_str(), target.c_str(), "b", 1, 2, 2, doc, doc_len, nullptr,
                                                   nullptr);
         },
         quillnet_stop_download_asyn_urlfile},
        {[&] { return quillnet_upload_urlfile_ex(plain.c_str(), source.c_str(), nullptr, nullptr); }, nullptr},
        {[&] {
             return quillnet_upload_asyn_urlfile(plain.c_str(), source.c_str(), "b", 1, 2, 2, doc, doc_len, nullptr,
                                                 nullptr);
         },
         quillnet_stop_upload_asyn_urlfile},
        {[&] { return quillnet_submit_multipart_asyn(plain.c_str(), parts.get(), 0, 2, 1, doc, doc_len, nullptr, nullptr); },
         quillnet_stop_multipart_asyn},
    };
    for (const auto& start : starts) {
        long k = 0;
        for (t_failed = true; t_failed; ++k) {
            t_failed = false;
            t_countdown = k;
            const int64_t fd = start.first();
            t_countdown = -1;
            EXPECT_TRUE(fd == -1 || fd > 0) << "allocation " << k;
            EXPECT_EQ(fd == -1 || start.second == nullptr ? 1 : start.second(fd), 1);  // a threaded upload is kept
        }
        EXPECT_GT(k, 2);
    }
    EXPECT_FALSE(log.records(": out of memory").empty());
    quillnet_cleanup();
}

}  // namespace
