// Start-up and clean-up through the shared library, and every export's refusal of what it cannot use.
#include <gtest/gtest.h>

#include <functional>
#include <thread>
#include <tuple>
#include <vector>

#include "log_file.h"
#include "quillnet.h"
#include "temp_dir.h"

using Lines = std::vector<std::string>;

class Frame : public ::testing::Test {
protected:
    void SetUp() override { qntest::use_config_dir(config_.path()); }
    qntest::TempDir config_;
    qntest::LogReader log_{config_.path()};
};

TEST_F(Frame, StartupAndCleanupPairUp) {
    const std::pair<int (*)(), int> calls[] = {{quillnet_cleanup, 0}, {quillnet_startup, 1}, {quillnet_startup, 1},
                                               {quillnet_cleanup, 1}, {quillnet_cleanup, 0}};
    for (const auto& [call, result] : calls) EXPECT_EQ(call(), result);  // a second start-up does nothing more
    EXPECT_EQ(log_.records(), Lines(2, "25 !s_is_startup"));
    // However calls from many threads interleave, the state stays whole.
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([] { for (int i = 0; i < 50; ++i, quillnet_cleanup()) EXPECT_EQ(quillnet_startup(), 1); });
    for (auto& thread : threads) thread.join();
    for (const auto& [call, result] : calls) EXPECT_EQ(call(), result);
}

// Each null or out-of-range argument, each handle naming no task (-1, 0): the failure value and the check's records.
TEST_F(Frame, EveryExportRefusesWhatItCannotUse) {
    const char *const u = "http://127.0.0.1:1/", *const to = "/nowhere";
    char* buf = nullptr;
    int len = 0;
    web_data_header header{0, 0};
    web_data form{&header, {nullptr}}, headless{nullptr, {nullptr}};
    using P = QuillnetSubmitParam;
    using E = QuillnetSubmitParamEx;
    P param{0, static_cast<int>(sizeof(P)), u, 10, "", 0, 2, 1};
    const auto common = [&](const std::function<void(P&, E&)>& change) {
        P p = param;
        E e{static_cast<int>(sizeof(E)), nullptr, &buf, nullptr, nullptr, nullptr, 0, nullptr, nullptr};
        change(p, e);
        return quillnet_submit_common(&p, &e);
    };
    const std::string cookie = "30 cookie_buf == NULL || cookie_buf_len == NULL", both = "25 url == NULL || path == NULL",
                      asyn = "25 quillnet_download_asyn_urlfile -- 1: url:", no_url = "30 url == NULL",
                      ftp = "25 ftp == NULL || path == NULL", no_form = "25 web_data == NULL || web_data->header == NULL";
    const std::nullptr_t n{};
#define REFUSES(call, failure, ...) {#call, [&]() -> int64_t { return call; }, failure, Lines{__VA_ARGS__}}
    const std::tuple<const char*, std::function<int64_t()>, int64_t, Lines> rows[] = {
        REFUSES(quillnet_release(n), 0, "25 ret_buf == NULL"), REFUSES((quillnet_release_redirect_url(n), 0), 0),
        REFUSES(quillnet_clear_cache(&len), -1), REFUSES(quillnet_submit(n, 10, "", 0, &buf), -1, "25 url == NULL"),
        REFUSES(quillnet_submit_ex(n, 10, "", 0, &buf, &len), -1, "25 url == NULL"),
        REFUSES(quillnet_submit_ex(u, -1, "", 0, &buf, &len), -1, "25 timeout < 0"),
        // ex2 to ex6 only forward to ex7.
        REFUSES(quillnet_submit_ex7(n, 10, "", 0, 2, 1, n, &buf, &len, n, n, 0, n, n, n, n), -1, no_url),
        REFUSES(quillnet_submit_ex7(u, -3, "", 0, 2, 1, n, &buf, &len, n, n, 0, n, n, n, n), -1, "30 timeout < 0"),
        REFUSES(quillnet_submit_ex7(u, 10, "", 0, 2, 1, n, &buf, &len, n, n, 1, &buf, n, n, n), -1, cookie),
        REFUSES(quillnet_submit_common(n, n), -1, "30 param == NULL"),
        REFUSES(quillnet_submit_common(&param, n), -1, "30 param_ex == NULL"),
        REFUSES(common([](P& p, E&) { p.url = nullptr; }), -1, "30 param->url == NULL"),
        REFUSES(common([](P&, E& e) { e.need_get_cookie = 1; }), -1, cookie),
        REFUSES(common([](P& p, E&) { p.timeout = -1; }), -1, "30 timeout < 0"),
        REFUSES(common([](P& p, E&) { p.version = 1; }), -1, "35 not support version:1 cur support version :0"),
        REFUSES(common([](P& p, E&) { p.version = -2; }), -1, "30 param->version < 0"),
        REFUSES(common([](P& p, E&) { p.size = sizeof(E); }), -1, "30 param->size != sizeof(QuillnetSubmitParam)"),
        REFUSES(common([](P&, E& e) { e.size = sizeof(P); }), -1, "30 param_ex->size != sizeof(QuillnetSubmitParamEx)"),
        REFUSES(quillnet_submit_multipart(n, 10, &form, 0, &buf, &len), -1, "25 url == NULL"),
        REFUSES(quillnet_submit_multipart(u, -1, &form, 0, &buf, &len), -1, "25 timeout < 0"),
        REFUSES(quillnet_submit_multipart(u, 10, n, 0, &buf, &len), -1, no_form),
        REFUSES(quillnet_submit_multipart_ex(u, 10, &headless, 0, n, &buf, &len), -1, no_form),
        REFUSES(quillnet_submit_multipart_asyn(n, &form, 0, 2, 1, n, 0, n, n), -1, no_url),
        REFUSES(quillnet_submit_multipart_asyn(u, n, 0, 2, 1, n, 0, n, n), -1, "30 web_data == NULL"),
        REFUSES(quillnet_submit_multipart_asyn(u, &headless, 0, 2, 1, n, 0, n, n), -1, "30 web_data->header == NULL"),
        REFUSES(quillnet_download_urlfile(n, to), 0, both), REFUSES(quillnet_download_urlfile(u, n), 0, both),
        REFUSES(quillnet_download_ftpfile(n, to, "u", "p"), 0, ftp),
        REFUSES(quillnet_download_ftpfile(u, n, "u", "p"), 0, ftp),
        REFUSES(quillnet_download_urlfile_ex(n, to, n, n), -1, "25 url == NULL"),
        REFUSES(quillnet_download_urlfile_ex(u, n, n, n), -1, "25 path == NULL"),
        REFUSES(quillnet_download_asyn_urlfile(n, to, n, 0, 1, 1, n, 0, n, n), -1, asyn + "(null) path:" + to, "25 url == NULL"),
        REFUSES(quillnet_download_asyn_urlfile(u, n, n, 0, 1, 1, n, 0, n, n), -1, asyn + u + " path:(null)", "25 path == NULL"),
        REFUSES(quillnet_upload_urlfile_ex(n, to, n, n), -1, no_url),
        REFUSES(quillnet_upload_urlfile_ex(u, n, n, n), -1, "30 path == NULL"),
        REFUSES(quillnet_upload_asyn_urlfile(n, to, n, 0, 2, 1, n, 0, n, n), -1, no_url),
        REFUSES(quillnet_upload_asyn_urlfile(u, n, n, 0, 2, 1, n, 0, n, n), -1, "30 path == NULL"),
    };
#undef REFUSES
    for (const auto& [name, call, failure, records] : rows) {
        EXPECT_EQ(call(), failure) << name;
        EXPECT_EQ(log_.records(), records) << name;
    }
    // The handle exports, with -1 and with 0: failure value, level and text.
    const std::string d = "25 download_info == NULL", i = "25 info == NULL";
    const std::tuple<int (*)(int64_t), int, std::string> handles[] = {
        {quillnet_stop_download_urlfile, 0, d}, {quillnet_getpos_download_urlfile, -1, d},
        {[](int64_t fd) { return quillnet_control_download_asyn_urlfile(fd, 0); }, 0, d},
        {quillnet_stop_download_asyn_urlfile, 0, i}, {quillnet_getpos_download_asyn_urlfile, -1, i},
        {quillnet_getpos_upload_urlfile, -1, "30 upload_info == NULL"}, {quillnet_stop_upload_asyn_urlfile, 0, i},
        {quillnet_getpos_upload_asyn_urlfile, -1, i}, {quillnet_stop_multipart_asyn, 0, i},
        {quillnet_getpos_multipart_asyn, -1, i},
    };
    for (const auto& [call, failure, record] : handles) {
        EXPECT_TRUE(call(-1) == failure && call(0) == failure) << record;
        EXPECT_EQ(log_.records(), (Lines{record.substr(0, 3) + "fd == -1", record}));
    }
    EXPECT_EQ(buf, nullptr);
}
