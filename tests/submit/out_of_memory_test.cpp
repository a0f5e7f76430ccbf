// Each C++ allocation an export makes on the caller's thread fails in turn: the right answer or the failure value.
#include <gtest/gtest.h>

#include <cstdio>
#include <new>

#include "log_file.h"
#include "quillnet.h"
#include "raw_http_server.h"
#include "submit_helpers.h"
#include "temp_dir.h"

namespace {

thread_local long t_countdown = -1;  // allocations to let through before one fails
thread_local bool t_failed = false;

void* allocate(std::size_t size) {
    if (t_countdown >= 0 && t_countdown-- == 0) {  // the one to fail
        t_failed = true;
        throw std::bad_alloc();
    }
    if (void* p = std::malloc(size != 0 ? size : 1)) return p;
    throw std::bad_alloc();
}

}  // namespace

// The whole process allocates through these, the host modules included.
void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept try { return allocate(size); } catch (...) {
    return nullptr;
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace {

// "ok" (the right answer), "failed" (the failure value, nothing handed out or taken) or what went wrong.
std::string verdict(bool ok, bool failed, int64_t r) { return ok ? "ok" : failed ? "failed" : "result " + std::to_string(r); }
std::string submitted(int r, char*& body) {
    t_countdown = -1;
    const std::string v = verdict(r == 0 && body != nullptr && std::string(body) == "answer", r == -1 && !body, r);
    quillnet_release(&body);
    return v;
}
// A task start (not its worker): a handle, or -1. A threaded upload is not stopped but kept.
std::string started(int64_t fd, int (*stop)(int64_t)) {
    t_countdown = -1;
    return verdict(fd > 0 && (stop == nullptr || stop(fd) == 1), fd == -1, fd);
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
    const std::string plain = server.url("/plain"), file = server.url("/file"), target = config.file("downloaded");
    const std::string tree = server.url("/plume/device/queryDeviceOrgTree");  // through the request cache
    const std::string source = config.write("up", "data");
    const char* const doc = R"({"headers":["X-A: 1"]})";
    const int len = static_cast<int>(std::strlen(doc));
    const char *const f = file.c_str(), *const to = target.c_str(), *const p = plain.c_str(), *const from = source.c_str();
    const std::nullptr_t n{};
    web_data_header header{0, 0};
    web_data form{&header, {nullptr}};
    qntest::Form parts;
    parts.add(WEB_PART_SENDFILE, "a.bin", "xyz").add(WEB_PART_FIELD, "f", "v");
    int serial = 0;  // a new question to the cache each time, so that it is fetched
    char* body = nullptr;
    const std::pair<const char*, std::function<std::string()>> cases[] = {
        {"ex on a cached path", [&] {
             const std::string question = std::to_string(++serial);
             return submitted(quillnet_submit_ex(tree.c_str(), 10, question.c_str(), 0, &body, nullptr), body);
         }},
        {"ex7 with document, redirect and cookies", [&] {
             long code = 0;
             char *redirect = nullptr, *cookies = nullptr;
             int cookies_len = 0;
             const int r = quillnet_submit_ex7(plain.c_str(), 10, "x", 0, 2, 2, doc, &body, nullptr, &code, &redirect,
                                               1, &cookies, &cookies_len, "c=1", nullptr);
             quillnet_release_redirect_url(redirect);
             quillnet_release(&cookies);
             return submitted(r, body);
         }},
        {"multipart with document",
         [&] { return submitted(quillnet_submit_multipart_ex(plain.c_str(), 10, &form, 0, doc, &body, nullptr), body); }},
        {"download with document and cookie", [&] {
             const int r = quillnet_download_urlfile_ex3(file.c_str(), target.c_str(), doc, "c=1");
             t_countdown = -1;
             const std::string v = verdict(r == 1 && qntest::file_exists(target) && qntest::read_file(target) == "answer",
                                           r == 0, r);
             std::remove(target.c_str());
             return v;
         }},
        {"threaded download", [&] {
             return started(quillnet_download_urlfile_ex(f, to, n, n), quillnet_stop_download_urlfile); }},
        {"asynchronous download", [&] {
             return started(quillnet_download_asyn_urlfile(f, to, "b", 1, 2, 2, doc, len, n, n), quillnet_stop_download_asyn_urlfile); }},
        {"threaded upload", [&] { return started(quillnet_upload_urlfile_ex(p, from, n, n), nullptr); }},
        {"asynchronous upload", [&] {
             return started(quillnet_upload_asyn_urlfile(p, from, "b", 1, 2, 2, doc, len, n, n), quillnet_stop_upload_asyn_urlfile); }},
        {"asynchronous multipart", [&] {
             return started(quillnet_submit_multipart_asyn(p, parts.get(), 0, 2, 1, doc, len, n, n), quillnet_stop_multipart_asyn); }},
    };
    for (const auto& [name, run] : cases) {
        long k = 0;
        for (t_failed = true; t_failed; ++k) {  // until every allocation of the call has failed once
            ASSERT_LT(k, 20000) << name << ": allocations without end";
            t_failed = false;
            t_countdown = k;
            const std::string v = run();
            EXPECT_TRUE(v == "ok" || (t_failed && v == "failed")) << name << ", allocation " << k << ": " << v;
        }
        EXPECT_GT(k, 1) << name;
    }
    EXPECT_FALSE(log.records(": out of memory").empty());
    quillnet_cleanup();
}

}  // namespace
