// The uploads and the asynchronous multipart submit against a loopback
// server that parses the forms: what it receives, what the callback sees,
// position, stop, refusals, and start/stop cycles. Records are read from
// the inside for their fields and `finished`.
#include <cstring>

#include "file_server.h"
#include "fixture.h"
#include "submit_helpers.h"
#include "transfer/upload_task.h"
#include "upload_server.h"

using qn::transfer::asyn_upload_info;
using qn::transfer::multipart_asyn_info;
using qn::transfer::upload_info;
using qntest::pattern;
using Parts = std::vector<std::vector<std::string>>;  // name, file name, content type, bytes

namespace {

const std::string kPartType = "multipart/form-data";

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

int64_t multipart(const std::string& url, web_data* data, Seen* seen, int submit_type = 2,
                  const char* doc = nullptr) {
    return quillnet_submit_multipart_asyn(url.c_str(), data, 0, submit_type, 1, doc, length(doc), seen,
                                          seen != nullptr ? &record : nullptr);
}

Parts parts_of(const qntest::Upload& upload) {
    Parts out;
    for (const qntest::FormPart& p : upload.parts) out.push_back({p.name, p.filename, p.content_type, p.bytes});
    return out;
}

class Upload : public TransferTest {
protected:
    // Waits for the end of an asynchronous task, stops it and checks its one
    // end event.
    template <class Info>
    void finish(int64_t fd, int (*stop)(int64_t), const Seen& seen, int done) {
        ASSERT_TRUE(eventually([&] { return finished<Info>(fd); }));
        EXPECT_EQ(stop(fd), 1);
        EXPECT_EQ(seen.dones * 10 + seen.done, 10 + done);
    }
    void post(bool threaded, size_t size, const std::string& query);

    qntest::UploadServer server_;
};

}  // namespace

// Each variant, uploading `size` bytes with zero bytes among them: the file
// whole under "sendfile", the position rising to 100, the events of the
// variant, the answer (`query` may ask for one) in the asynchronous data.
void Upload::post(bool threaded, size_t size, const std::string& query) {
    SCOPED_TRACE(std::to_string(threaded) + " " + std::to_string(size));
    const std::string name = "f" + std::to_string(size), content = binary(size), file = out_.write(name, content);
    Seen seen;
    const std::string url = server_.url("/up" + query);
    const int64_t fd = threaded ? quillnet_upload_urlfile_ex(url.c_str(), file.c_str(), &seen, &record_sent)
                                : upload_asyn(url, file, &seen);
    const auto getpos = threaded ? quillnet_getpos_upload_urlfile : quillnet_getpos_upload_asyn_urlfile;
    std::vector<int> positions = {0};
    const size_t before = server_.uploads().size();
    ASSERT_TRUE(eventually([&] {
        if (getpos(fd) != positions.back()) positions.push_back(getpos(fd));
        return server_.uploads().size() > before && positions.back() == 100;
    }, 100));
    EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
    EXPECT_TRUE(size < 1000000 || positions.size() > 3);  // rising, not jumping
    const qntest::Upload up = server_.uploads().back();
    EXPECT_TRUE(up.complete);
    EXPECT_TRUE(parts_of(up) == (Parts{{"sendfile", name, "application/octet-stream", content},
                                       {threaded ? "filename" : "fileName", "", "", file},
                                       {"submit", "", "", "send"}}));
    EXPECT_EQ(up.headers.count("Expect") * 10 + up.headers.count("Connection"), 1u);
    EXPECT_EQ(up.headers.find("Connection")->second, "Keep-Alive");
    if (threaded) {
        ASSERT_TRUE(eventually([&] {
            std::lock_guard<std::mutex> lock(seen.mutex);
            return !seen.sent.empty() && seen.sent.back() == seen.total;
        }));
        std::lock_guard<std::mutex> lock(seen.mutex);
        EXPECT_TRUE(std::is_sorted(seen.sent.begin(), seen.sent.end()));
        EXPECT_GT(seen.total, size);
        EXPECT_EQ(seen.events, std::vector<int>(seen.sent.size(), TASK_EVENT_THREAD_DATA));
    } else {
        finish<asyn_upload_info>(fd, quillnet_stop_upload_asyn_urlfile, seen, 0);
        EXPECT_EQ(seen.last_percent, 100);
        EXPECT_TRUE(seen.data == (query.empty() ? "parts:3" : pattern(300000)));
        EXPECT_EQ(seen.events.back(), TASK_EVENT_DONE);
    }
}

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
    post(true, 50u << 20, "");
    post(false, 50u << 20, "");
}

TEST_F(Upload, AsynchronousHeadersByContentType) {
    const std::string file = out_.write("h", "abc");
    struct Case {
        int conten_type;
        const char* doc;
        std::string content_type;
        std::string extra;  // the value of X-A, or of auth_digest sent as a header
    } cases[] = {
        {1, nullptr, "application/json", ""},
        {2, R"({"headers":["X-A: 1","auth_digest:u:p"]})", kPartType, "1u:p"},
        {2, "{}", kPartType, ""},
        {2, nullptr, kPartType, ""},
        {7, R"({"headers":["X-A: 1"]})", kPartType, ""},
    };
    for (const Case& c : cases) {
        Seen seen;
        finish<asyn_upload_info>(upload_asyn(server_.url("/h"), file, &seen, c.conten_type, c.doc),
                                 quillnet_stop_upload_asyn_urlfile, seen, 0);
        const qntest::Upload up = server_.uploads().back();
        EXPECT_EQ(up.headers.find("Content-Type")->second.substr(0, c.content_type.size()), c.content_type);
        const auto value = [&](const char* name) { return up.headers.count(name) ? up.headers.find(name)->second : ""; };
        EXPECT_EQ(value("X-A") + value("auth_digest"), c.extra);
        EXPECT_EQ(up.parts.size(), c.conten_type == 1 ? 0u : 3u);  // a JSON body is no form to the server
    }
    const Lines log = logged();
    EXPECT_EQ(grep(log, "is_error(jso_headers)"), Lines{"30 is_error(jso_headers)"});
    EXPECT_EQ(grep(log, "unknown conten_type"), (Lines{"35 unknown conten_type:2", "35 unknown conten_type:7"}));
}

TEST_F(Upload, FailuresAndRefusals) {
    const std::string missing = out_.file("none"), file = out_.write("f", "x");
    Seen seen;
    const int64_t threaded = quillnet_upload_urlfile_ex(server_.url("/a").c_str(), missing.c_str(), &seen, &record);
    const int64_t asyn = upload_asyn(server_.url("/a"), missing, &seen);
    ASSERT_TRUE(eventually([&] { return grep(log_so_far(), "ptr == NULL").size() == 2; }));
    EXPECT_EQ(quillnet_getpos_upload_urlfile(threaded) + quillnet_getpos_upload_asyn_urlfile(asyn), 0);
    EXPECT_FALSE(finished<asyn_upload_info>(asyn));
    EXPECT_EQ(quillnet_stop_upload_asyn_urlfile(asyn), 1);
    EXPECT_TRUE(seen.events.empty() && server_.uploads().empty());

    // Nothing listens on port 1.
    const int64_t refused = quillnet_upload_urlfile_ex("http://127.0.0.1:1/a b", file.c_str(), nullptr, nullptr);
    finish<asyn_upload_info>(upload_asyn("http://127.0.0.1:1/a", file, &seen), quillnet_stop_upload_asyn_urlfile,
                             seen, 1);
    ASSERT_TRUE(eventually([&] { return !grep(log_so_far(), "curlcode:").empty(); }));
    EXPECT_EQ(quillnet_getpos_upload_urlfile(refused), 0);

    const std::string long_text(1500, 'x');
    auto* t = reinterpret_cast<upload_info*>(quillnet_upload_urlfile_ex(long_text.c_str(), long_text.c_str(),
                                                                        nullptr, nullptr));
    const int64_t a = quillnet_upload_asyn_urlfile(long_text.c_str(), long_text.c_str(), "b", 0, 2, 1, "{}", -1,
                                                   nullptr, nullptr);
    auto* ai = reinterpret_cast<asyn_upload_info*>(a);
    EXPECT_EQ(strlen(t->url) + strlen(t->path) + strlen(ai->url) + strlen(ai->path), 259u * 3 + 1023u);
    EXPECT_TRUE(ai->body == nullptr && ai->body_len == 0 && ai->param_ex == nullptr && ai->submit_type == 2);
    EXPECT_EQ(quillnet_stop_upload_asyn_urlfile(a), 1);

    EXPECT_EQ(quillnet_upload_urlfile_ex(nullptr, "p", nullptr, nullptr) +
                  quillnet_upload_urlfile_ex("u", nullptr, nullptr, nullptr) +
                  quillnet_upload_asyn_urlfile(nullptr, "p", nullptr, 0, 2, 1, nullptr, 0, nullptr, nullptr) +
                  quillnet_upload_asyn_urlfile("u", nullptr, nullptr, 0, 2, 1, nullptr, 0, nullptr, nullptr),
              -4);
    EXPECT_EQ(quillnet_getpos_upload_urlfile(-1) + quillnet_getpos_upload_urlfile(0) +
                  quillnet_getpos_upload_asyn_urlfile(-1) + quillnet_getpos_upload_asyn_urlfile(0) +
                  quillnet_getpos_multipart_asyn(-1) + quillnet_getpos_multipart_asyn(0),
              -6);
    EXPECT_EQ(quillnet_stop_upload_asyn_urlfile(-1) + quillnet_stop_upload_asyn_urlfile(0) +
                  quillnet_stop_multipart_asyn(-1) + quillnet_stop_multipart_asyn(0),
              0);
    ASSERT_TRUE(eventually([&] { return grep(log_so_far(), "30 ptr == NULL").size() == 4; }));
    const Lines log = log_so_far();
    EXPECT_EQ(grep(log, "curlcode:"),
              Lines{"35 CLibcurlWrapper::instance().curl_easy_perform(curl) != CURLE_OK,http://127.0.0.1:1/a%20b "
                    "curlcode:7"});
    EXPECT_EQ(grep(log, "data.result"), Lines{"35 curl_msg->data.result != CURLE_OK curl_msg->data.result:7"});
    EXPECT_FALSE(grep(log, "30 ultotal == 0").empty());  // before the size of the form is known
    EXPECT_EQ(grep_but(grep_but(log, " == ", "ptr =="), " == ", "ultotal"),
              (Lines{"30 url == NULL", "30 path == NULL", "30 url == NULL", "30 path == NULL", "30 fd == -1",
                     "30 upload_info == NULL", "25 fd == -1", "25 info == NULL", "25 fd == -1", "25 info == NULL",
                     "25 fd == -1", "25 info == NULL", "25 fd == -1", "25 info == NULL"}));
}

TEST_F(Upload, StopRightAfterStartAndMidway) {
    const std::string content = binary(20u << 20), file = out_.write("big", content);
    qntest::Form form;
    form.add(WEB_PART_SENDFILE, "big", content);
    for (int kind = 0; kind < 4; ++kind) {
        SCOPED_TRACE(kind);
        const bool midway = kind % 2 == 1, upload = kind < 2;
        Seen seen;
        const int64_t fd = upload ? upload_asyn(server_.url("/slow"), file, &seen)
                                  : multipart(server_.url("/slow"), form.get(), &seen);
        const auto getpos = upload ? quillnet_getpos_upload_asyn_urlfile : quillnet_getpos_multipart_asyn;
        ASSERT_TRUE(!midway || eventually([&] { return getpos(fd) > 0 && server_.bytes_read() > 0; }));
        EXPECT_EQ((upload ? quillnet_stop_upload_asyn_urlfile : quillnet_stop_multipart_asyn)(fd), 1);
        EXPECT_EQ(seen.dones * 10 + seen.done, 11);
        EXPECT_LT(seen.last_percent, 100);
    }
    // The two stopped midway were read in part; none was read whole.
    ASSERT_TRUE(eventually([&] { return server_.uploads().size() >= 2; }));
    for (const qntest::Upload& up : server_.uploads()) EXPECT_FALSE(up.complete);
    const Lines log = logged();
    EXPECT_FALSE(grep(log, "35 info->exit_thr == TRUE").empty());
    EXPECT_FALSE(grep(log, "35 info->upload_info.exit_thr == TRUE").empty());
}

TEST_F(Upload, MultipartPartsAsTheHostDescribesThem) {
    const std::string zeros = binary(70000);
    struct Case {
        int submit_type;
        bool empty;
        Parts want;
    } cases[] = {
        {2, false,
         {{"a", "", kPartType, "alpha"}, {"b", "", "", "be"}, {"file", "x.bin", kPartType, zeros},
          {"sendfile", "y.bin", kPartType, "yy"}}},
        {1, false,
         {{"a", "", kPartType, "alpha"}, {"b", "", "", "be"}, {"file", "x.bin", kPartType, zeros},
          {"sendfile", "y.bin", kPartType, "yy"}}},
        {2, true, {}},
        {3, true, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.submit_type);
        Seen seen;
        int64_t fd = -1;
        {
            qntest::Form form;  // freed right after the start
            if (!c.empty) {
                form.add(0, "a", "alpha").add(2, "two", "2").add(1, "b", std::string("be\0ta", 5));
                form.add(3, "three", "3").add(4, "x.bin", zeros).add(5, "y.bin", "yy").add(6, "six", "6");
            }
            fd = multipart(server_.url("/m?answer=200000"), form.get(), &seen, c.submit_type,
                           R"({"headers":["X-A: 1", null]})");
        }
        finish<multipart_asyn_info>(fd, quillnet_stop_multipart_asyn, seen, 0);
        EXPECT_TRUE(seen.data == pattern(200000));
        EXPECT_EQ(seen.last_percent, c.empty ? -1 : 100);  // nothing to send, no progress
        const qntest::Upload up = server_.uploads().back();
        EXPECT_EQ(up.method, "POST");
        EXPECT_TRUE(parts_of(up) == c.want);
        EXPECT_EQ(up.headers.find("X-A")->second + up.headers.find("Accept-Charset")->second +
                      up.headers.find("Accept-Encoding")->second,
                  "1utf-8utf-8");
    }
    const Lines log = logged();
    EXPECT_EQ(grep(log, "30 is_error(jso_header)").size(), 4u);
    EXPECT_EQ(grep(log, "data.result"), Lines{});
}

TEST_F(Upload, MultipartDescriptionsRefused) {
    web_data no_header{};
    qntest::Form negative;
    negative.add(1, "a", "b");
    web_data* with_negative = negative.get();
    with_negative->parts[0]->data_len = -1;
    qntest::Form form;
    web_data* counted = form.get();
    for (int count : {-1, 1025}) {
        counted->header->count = count;
        EXPECT_EQ(multipart(server_.url("/"), counted, nullptr), -1);
    }
    EXPECT_EQ(multipart(server_.url("/"), &no_header, nullptr) + multipart(server_.url("/"), nullptr, nullptr) +
                  quillnet_submit_multipart_asyn(nullptr, counted, 0, 2, 1, nullptr, 0, nullptr, nullptr) +
                  multipart(server_.url("/"), with_negative, nullptr),
              -4);
    EXPECT_EQ(grep(logged(), "30 "),
              (Lines{"30 web_data->header->count < 0 || web_data->header->count > 1024",
                     "30 web_data->header->count < 0 || web_data->header->count > 1024", "30 web_data->header == NULL",
                     "30 web_data == NULL", "30 url == NULL", "30 web_data->parts[i]->data_len < 0"}));
    EXPECT_TRUE(server_.uploads().empty());
}

using Cycles = TaskCycles<qntest::UploadServer>;

// No stop: each round's server goes away under the uploads it has not
// finished. The log's writer threads are the main thread's here, not named
// after a worker.
TEST_F(Cycles, ThreadedUploadsEndAndAreJoined) {
    const std::string file = out_.write("c1", binary(1u << 20));
    run([&](const std::string& url, const std::string&) {
        return quillnet_upload_urlfile_ex(url.c_str(), file.c_str(), nullptr, nullptr);
    }, [](int64_t) { return 1; }, [] { return task_threads() == 0; });
}

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
