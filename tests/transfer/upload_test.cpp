// The uploads and the asynchronous multipart submit against a loopback
// server that parses the forms: what it receives, what the callback sees,
// position, stop, refusals, start/stop cycles. Records are read from the
// inside for their fields and `finished`.
#include <chrono>
#include <cstring>
#include <set>
#include <thread>

#include "file_server.h"
#include "task_fixture.h"
#include "submit_helpers.h"
#include "transfer/upload_task.h"
#include "upload_server.h"

using qn::transfer::asyn_upload_info;
using qn::transfer::multipart_asyn_info;
using qn::transfer::upload_info;
using qntest::pattern;

namespace {

const std::string kType = "|multipart/form-data|";

// pattern(n) with a zero byte every 7 bytes.
std::string binary(size_t n) {
    std::string s = pattern(n);
    for (size_t i = 0; i < n; i += 7) s[i] = '\0';
    return s;
}

int length(const char* text) {
    return text == nullptr ? 0 : static_cast<int>(std::strlen(text));
}

int64_t upload_asyn(const std::string& url, const std::string& path, Seen* seen, int conten_type = 0,
                    const char* doc = nullptr) {
    return quillnet_upload_asyn_urlfile(url.c_str(), path.c_str(), "body", 4, 2, conten_type, doc, length(doc), seen,
                                        seen != nullptr ? &record : nullptr);
}

int64_t multipart(const std::string& url, web_data* data, Seen* seen, int submit_type = 2) {
    const char* doc = R"({"headers":["X-A: 1", null]})";
    return quillnet_submit_multipart_asyn(url.c_str(), data, 0, submit_type, 1, doc, length(doc), seen,
                                          seen != nullptr ? &record : nullptr);
}

class Upload : public TransferTest {
protected:
    // Waits for the end of an asynchronous task, stops it, checks its one end
    // event and returns what the server got.
    template <class Info>
    qntest::Upload finish(int64_t fd, int (*stop)(int64_t), const Seen& seen, int done) {
        EXPECT_TRUE(eventually([&] { return finished<Info>(fd); }));
        EXPECT_EQ(stop(fd), 1);
        EXPECT_EQ(seen.dones * 10 + seen.done, 10 + done);
        return server_.uploads().empty() ? qntest::Upload{} : server_.uploads().back();
    }
    std::string header(const qntest::Upload& up, const char* name) {
        return up.headers.count(name) != 0 ? up.headers.find(name)->second : "-";
    }
    void post(bool threaded, size_t size, const std::string& query);

    qntest::UploadServer server_;
};

// `size` bytes, zero bytes among them, by one variant: the file whole under
// "sendfile", the position rising to 100, the variant's events, the answer
// (`query` may ask for one) in the asynchronous data.
void Upload::post(bool threaded, size_t size, const std::string& query) {
    SCOPED_TRACE(std::to_string(threaded) + " " + std::to_string(size));
    const std::string name = "f" + std::to_string(size), content = binary(size), file = out_.write(name, content);
    const std::string url = server_.url("/up" + query);
    Seen seen;
    const size_t before = server_.uploads().size();
    const int64_t fd = threaded ? quillnet_upload_urlfile_ex(url.c_str(), file.c_str(), &seen, &record_sent)
                                : upload_asyn(url, file, &seen);
    const auto getpos = threaded ? quillnet_getpos_upload_urlfile : quillnet_getpos_upload_asyn_urlfile;
    std::vector<int> positions = {0};
    ASSERT_TRUE(eventually([&] {
        if (getpos(fd) != positions.back()) positions.push_back(getpos(fd));
        return server_.uploads().size() > before && positions.back() == 100;
    }, 100));
    EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
    const qntest::Upload up = server_.uploads().back();
    EXPECT_TRUE(up.complete && up.parts == (Lines{"sendfile|" + name + "|application/octet-stream|" + content,
                                                  (threaded ? "filename|||" : "fileName|||") + file, "submit|||send"}));
    EXPECT_EQ(header(up, "Expect") + header(up, "Connection"), "-Keep-Alive");
    if (threaded) {
        ASSERT_TRUE(eventually([&] {
            std::lock_guard<std::mutex> lock(seen.mutex);
            return !seen.sent.empty() && seen.sent.back() == seen.total;
        }));
        // Nothing stops it: `seen` may go once the worker has ended (the
        // log's writer threads are the main thread's here, not named after
        // a worker).
        ASSERT_TRUE(eventually([] { return task_threads() == 0; }));
        std::lock_guard<std::mutex> lock(seen.mutex);
        EXPECT_TRUE(std::is_sorted(seen.sent.begin(), seen.sent.end()) && seen.total > size);
        EXPECT_TRUE(size < 1000000 || seen.sent.size() > 10);  // rising, not jumping
        EXPECT_EQ(seen.events, std::vector<int>(seen.sent.size(), TASK_EVENT_THREAD_DATA));
    } else {
        finish<asyn_upload_info>(fd, quillnet_stop_upload_asyn_urlfile, seen, 0);
        EXPECT_TRUE(seen.last_percent == 100 && seen.data == (query.empty() ? "parts:3" : pattern(300000)));
        EXPECT_TRUE(std::is_sorted(seen.percents.begin(), seen.percents.end()) &&
                    (size < 1000000 || std::set<int>(seen.percents.begin(), seen.percents.end()).size() > 10));
    }
}

}  // namespace

TEST_F(Upload, EachVariantPostsTheFileWhole) {
    post(true, 3000, "");
    post(false, 3000, "?answer=300000");
    post(false, 0, "");
    const Lines log = logged();
    EXPECT_EQ(grep(log, "25 url is:"), Lines{"25 url is:" + server_.url("/up")});
    EXPECT_EQ(grep(log, "25 path is:"), Lines{"25 path is:" + out_.file("f3000")});
    EXPECT_EQ(grep(log, "25 url is " + server_.url("/up")).size(), 2u);
}

TEST_F(Upload, LargeFilesWithTheirPositionRising) {
#if defined(_WIN32)
    GTEST_SKIP() << "two 50 MB uploads do not end within the test time limit under Wine (cause not yet found)";
#endif
    post(true, 50u << 20, "");
    post(false, 50u << 20, "");
}

TEST_F(Upload, AsynchronousHeadersByContentType) {
    const std::string file = out_.write("h", "abc");
    struct Case {
        int conten_type;
        const char* doc;
        std::string seen;  // Content-Type (its start), "|", X-A and auth_digest
    } cases[] = {
        {1, nullptr, "application/json|--"},
        {2, R"({"headers":["X-A: 1","auth_digest:u:p"]})", "multipart/form-data|1u:p"},
        {2, "{}", "multipart/form-data|--"},
        {2, nullptr, "multipart/form-data|--"},
        {7, R"({"headers":["X-A: 1"]})", "multipart/form-data|--"},
    };
    for (const Case& c : cases) {
        Seen seen;
        const qntest::Upload up = finish<asyn_upload_info>(
            upload_asyn(server_.url("/h"), file, &seen, c.conten_type, c.doc), quillnet_stop_upload_asyn_urlfile, seen, 0);
        const size_t type = c.seen.find('|');
        EXPECT_EQ(header(up, "Content-Type").substr(0, type) + "|" + header(up, "X-A") + header(up, "auth_digest"),
                  c.seen);
        EXPECT_EQ(up.parts.size(), c.conten_type == 1 ? 0u : 3u);  // a JSON body is no form to the server
    }
    const Lines log = logged();
    EXPECT_EQ(grep(log, "is_error(jso_headers)"), Lines{"30 is_error(jso_headers)"});
    EXPECT_EQ(grep(log, "unknown conten_type"), (Lines{"35 unknown conten_type:2", "35 unknown conten_type:7"}));
}

TEST_F(Upload, FailuresAndRefusals) {
    const std::string missing = out_.file("none"), file = out_.write("f", "x"), long_text(1500, 'x');
    Seen seen;
    const int64_t threaded = quillnet_upload_urlfile_ex(server_.url("/a").c_str(), missing.c_str(), &seen, &record);
    const int64_t asyn = upload_asyn(server_.url("/a"), missing, &seen);
    const int64_t refused = quillnet_upload_urlfile_ex("http://127.0.0.1:1/a b", file.c_str(), nullptr, nullptr);
    ASSERT_TRUE(eventually([&] { return grep(log_so_far(), "ptr == NULL").size() == 2; }));
    EXPECT_FALSE(finished<asyn_upload_info>(asyn));
    EXPECT_EQ(quillnet_stop_upload_asyn_urlfile(asyn), 1);
    finish<asyn_upload_info>(upload_asyn("http://127.0.0.1:1/a", file, &seen), quillnet_stop_upload_asyn_urlfile,
                             seen, 1);  // nothing listens on port 1
    EXPECT_TRUE(seen.events == std::vector<int>{TASK_EVENT_DONE} && server_.uploads().empty());
    EXPECT_EQ(quillnet_getpos_upload_urlfile(threaded) + quillnet_getpos_upload_urlfile(refused), 0);

    auto* t = reinterpret_cast<upload_info*>(
        quillnet_upload_urlfile_ex(long_text.c_str(), long_text.c_str(), nullptr, nullptr));
    const int64_t a =
        quillnet_upload_asyn_urlfile(long_text.c_str(), long_text.c_str(), "b", 0, 2, 1, "{}", -1, nullptr, nullptr);
    auto* ai = reinterpret_cast<asyn_upload_info*>(a);
    EXPECT_EQ(strlen(t->url) + strlen(t->path) + strlen(ai->url) + strlen(ai->path), 259u * 3 + 1023u);
    EXPECT_TRUE(ai->body == nullptr && ai->body_len == 0 && ai->param_ex == nullptr && ai->submit_type == 2);
    EXPECT_EQ(quillnet_stop_upload_asyn_urlfile(a), 1);

    EXPECT_EQ(quillnet_upload_urlfile_ex(nullptr, "p", nullptr, nullptr) +
                  quillnet_upload_urlfile_ex("u", nullptr, nullptr, nullptr) +
                  quillnet_upload_asyn_urlfile("u", nullptr, nullptr, 0, 2, 1, nullptr, 0, nullptr, nullptr),
              -3);
    EXPECT_EQ(quillnet_getpos_upload_urlfile(-1) + quillnet_getpos_upload_urlfile(0) +
                  quillnet_getpos_upload_asyn_urlfile(-1) + quillnet_getpos_upload_asyn_urlfile(0) +
                  quillnet_getpos_multipart_asyn(-1) + quillnet_getpos_multipart_asyn(0) +
                  quillnet_stop_upload_asyn_urlfile(-1) + quillnet_stop_upload_asyn_urlfile(0) +
                  quillnet_stop_multipart_asyn(-1) + quillnet_stop_multipart_asyn(0),
              -6);
    ASSERT_TRUE(eventually([&] { return grep(log_so_far(), "ptr == NULL").size() == 4 &&
                                        !grep(log_so_far(), "curlcode:").empty(); }));
    const Lines log = log_so_far();
    EXPECT_EQ(grep(log, "curlcode:"), Lines{"35 CLibcurlWrapper::instance().curl_easy_perform(curl) != "
                                            "CURLE_OK,http://127.0.0.1:1/a%20b curlcode:7"});
    EXPECT_EQ(grep(log, "data.result"), Lines{"35 curl_msg->data.result != CURLE_OK curl_msg->data.result:7"});
    EXPECT_FALSE(grep(log, "30 ultotal == 0").empty());  // before the size of the form is known
    EXPECT_EQ(grep_but(grep_but(log, " == ", "ptr =="), " == ", "ultotal"),
              (Lines{"30 url == NULL", "30 path == NULL", "30 path == NULL", "30 fd == -1", "30 upload_info == NULL",
                     "25 fd == -1", "25 info == NULL", "25 fd == -1", "25 info == NULL", "25 fd == -1",
                     "25 info == NULL", "25 fd == -1", "25 info == NULL"}));
}

TEST_F(Upload, StopRightAfterStartAndMidway) {
    const std::string content = binary(20u << 20), file = out_.write("big", content);
    qntest::Form form;
    form.add(WEB_PART_SENDFILE, "big", content);
    for (int kind = 0; kind < 4; ++kind) {
        SCOPED_TRACE(kind);
        const bool upload = kind < 2;
        Seen seen;
        const int64_t fd = upload ? upload_asyn(server_.url("/slow"), file, &seen)
                                  : multipart(server_.url("/slow"), form.get(), &seen);
        const auto getpos = upload ? quillnet_getpos_upload_asyn_urlfile : quillnet_getpos_multipart_asyn;
        ASSERT_TRUE(kind % 2 == 0 || eventually([&] { return getpos(fd) > 0 && server_.bytes_read() > 0; }));
        EXPECT_EQ((upload ? quillnet_stop_upload_asyn_urlfile : quillnet_stop_multipart_asyn)(fd), 1);
        EXPECT_TRUE(seen.dones == 1 && seen.done == 1 && seen.last_percent < 100);
    }
    // The two stopped midway were read in part; none was read whole.
    ASSERT_TRUE(eventually([&] { return server_.uploads().size() >= 2; }));
    for (const qntest::Upload& up : server_.uploads()) EXPECT_FALSE(up.complete);
    const Lines log = logged();
    EXPECT_FALSE(grep(log, "35 info->exit_thr == TRUE").empty() ||
                 grep(log, "35 info->upload_info.exit_thr == TRUE").empty());
}

// Every kind of part, the host's description freed right after the start;
// a POST whatever the method code, also without parts.
TEST_F(Upload, MultipartPartsAsTheHostDescribesThem) {
    const std::string zeros = binary(70000);
    const Lines all = {"a|" + kType + "alpha", "b|||be", "file|x.bin" + kType + zeros, "sendfile|y.bin" + kType + "yy"};
    size_t posts = 0;
    for (int submit_type : {2, 1, -2, -3}) {  // negative: no parts
        SCOPED_TRACE(submit_type);
        Seen seen;
        int64_t fd = -1;
        {
            qntest::Form form;
            if (submit_type > 0) {
                form.add(0, "a", "alpha").add(2, "two", "2").add(1, "b", std::string("be\0ta", 5));
                form.add(3, "three", "3").add(4, "x.bin", zeros).add(5, "y.bin", "yy").add(6, "six", "6");
            }
            fd = multipart(server_.url("/m?answer=200000"), form.get(), &seen, std::abs(submit_type));
        }
        const qntest::Upload up = finish<multipart_asyn_info>(fd, quillnet_stop_multipart_asyn, seen, 0);
        EXPECT_TRUE(seen.data == pattern(200000));
        EXPECT_EQ(seen.last_percent, submit_type > 0 ? 100 : -1);  // nothing to send, no progress
        EXPECT_EQ(server_.uploads().size(), ++posts);  // a POST: the server takes no other
        EXPECT_TRUE(up.parts == (submit_type > 0 ? all : Lines{}));
        EXPECT_EQ(header(up, "X-A") + header(up, "Accept-Charset") + header(up, "Accept-Encoding"), "1utf-8utf-8");
    }
    const Lines log = logged();
    EXPECT_EQ(grep(log, "30 is_error(jso_header)").size(), 4u);
    EXPECT_EQ(grep(log, "data.result"), Lines{});
}

TEST_F(Upload, MultipartDescriptionsRefused) {
    web_data no_header{};
    qntest::Form negative, form;
    web_data* with_negative = negative.add(1, "a", "b").get();
    with_negative->parts[0]->data_len = -1;
    web_data* counted = form.get();
    for (int count : {-1, 1025}) {
        counted->header->count = count;
        EXPECT_EQ(multipart(server_.url("/"), counted, nullptr), -1);
    }
    EXPECT_EQ(multipart(server_.url("/"), &no_header, nullptr) + multipart(server_.url("/"), nullptr, nullptr) +
                  quillnet_submit_multipart_asyn(nullptr, counted, 0, 2, 1, nullptr, 0, nullptr, nullptr) +
                  multipart(server_.url("/"), with_negative, nullptr),
              -4);
    with_negative->parts[0]->data_len = INT64_MAX - 100;  // no block can hold its copy
    EXPECT_EQ(multipart(server_.url("/"), with_negative, nullptr), -1);
    const std::string count = "30 web_data->header->count < 0 || web_data->header->count > 1024";
    EXPECT_EQ(grep(logged(), "30 "), (Lines{count, count, "30 web_data->header == NULL", "30 web_data == NULL",
                                            "30 url == NULL", "30 web_data->parts[i]->data_len < 0",
                                            "30 info == NULL"}));
    EXPECT_TRUE(server_.uploads().empty());
}

// The threaded upload has no stop: each round's server goes away under the
// uploads it has not finished. The log's writer threads are the main
// thread's here, not named after a worker.
using Cycles = TaskCycles<qntest::UploadServer>;

TEST_F(Cycles, AsynchronousUploads) {
    const std::string file = out_.write("c1", binary(1u << 20));
    run([&](const std::string& url, const std::string&) { return upload_asyn(url, file, nullptr); },
        quillnet_stop_upload_asyn_urlfile);
}

TEST_F(Cycles, AsynchronousMultipart) {
    qntest::Form form;
    form.add(5, "c", binary(1u << 20)).add(1, "f", "v");
    run([&](const std::string& url, const std::string&) { return multipart(url, form.get(), nullptr); },
        quillnet_stop_multipart_asyn);
}

TEST_F(Cycles, ThreadedUploadsEndAndAreJoined) {
    const std::string file = out_.write("c1", binary(1u << 20));
    run([&](const std::string& url, const std::string&) {
        return quillnet_upload_urlfile_ex(url.c_str(), file.c_str(), nullptr, nullptr);
    }, [](int64_t) { return 1; }, [] {
        // A worker just started has not named itself yet: none seen for a
        // while, not at one glance.
        for (int i = 0; i < 4; ++i) {
            if (task_threads() != 0) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
        return true;
    });
}
