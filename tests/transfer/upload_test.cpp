// The uploads and the asynchronous multipart submit against a server that parses the forms.
#include <set>

#include "submit_helpers.h"
#include "task_fixture.h"
#include "transfer/upload_task.h"

using qn::transfer::upload_info;

namespace {

const std::string kType = "|multipart/form-data|";

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
    void SetUp() override {
        TransferTest::SetUp();
        server_.serve_uploads().start();
    }
    qntest::Upload last() const { return server_.uploads().empty() ? qntest::Upload{} : server_.uploads().back(); }

    qntest::HttpServer server_;
};

}  // namespace

// Files with zero bytes by each variant, whole, with rising position and the variant's events.
TEST_F(Upload, EachVariantPostsTheFileWhole) {
    const std::tuple<bool, size_t, std::string> posts[] = {
        {true, 3000, "/up"}, {false, 3000, "/up?answer=300000"}, {false, 0, "/up"},
#if !defined(_WIN32)  // large uploads take too long under Wine
        {true, 16u << 20, "/up"}, {false, 16u << 20, "/up"},  // beyond what the socket buffers take at once
#endif
    };
    for (const auto& [threaded, size, path] : posts) {
        SCOPED_TRACE(std::to_string(threaded) + " " + std::to_string(size));
        const std::string name = "f" + std::to_string(size), content = pattern(size), file = out_.write(name, content);
        const std::string url = server_.url(path);
        Seen seen;
        const size_t before = server_.uploads().size();
        const int64_t fd = threaded ? quillnet_upload_urlfile_ex(url.c_str(), file.c_str(), &seen, &qntest::record_sent)
                                    : upload_asyn(url, file, &seen);
        const auto getpos = threaded ? quillnet_getpos_upload_urlfile : quillnet_getpos_upload_asyn_urlfile;
        std::vector<int> positions = {0};
        ASSERT_TRUE(eventually([&] {
            if (getpos(fd) != positions.back()) positions.push_back(getpos(fd));
            return server_.uploads().size() > before && positions.back() == 100;
        }, 100));
        EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
        const qntest::Upload up = last();
        EXPECT_TRUE(up.complete && up.parts == (Lines{"sendfile|" + name + "|application/octet-stream|" + content,
                                                      (threaded ? "filename|||" : "fileName|||") + file, "submit|||send"}));
        EXPECT_EQ(up.header("Expect") + up.header("Connection"), "-Keep-Alive");
        if (!threaded) {
            EXPECT_EQ(finish(fd, quillnet_stop_upload_asyn_urlfile, seen), 0);
            EXPECT_TRUE(seen.last_percent() == 100 &&
                        seen.data == (path.find("answer") == std::string::npos ? "parts:3" : pattern(300000)));
            EXPECT_TRUE(std::is_sorted(seen.percents.begin(), seen.percents.end()) &&
                        (size < 1000000 || std::set<int>(seen.percents.begin(), seen.percents.end()).size() > 10));
            continue;
        }
        // No stop: `seen` may go once the worker has ended.
        ASSERT_TRUE(eventually([&] {
            std::lock_guard<std::mutex> lock(seen.mutex);
            return !seen.sent.empty() && seen.sent.back() == seen.total && task_threads() == 0;
        }));
        std::lock_guard<std::mutex> lock(seen.mutex);
        EXPECT_TRUE(std::is_sorted(seen.sent.begin(), seen.sent.end()) && seen.total > size);
        EXPECT_TRUE(size < 1000000 || seen.sent.size() > 10);  // rising, not jumping
        EXPECT_EQ(seen.events, std::vector<int>(seen.sent.size(), TASK_EVENT_THREAD_DATA));
    }
}

TEST_F(Upload, AsynchronousHeadersByContentType) {
    const std::string file = out_.write("h", "abc");
    // seen: the start of Content-Type, "|", X-A and auth_digest.
    struct Case { int conten_type; const char* doc; std::string seen; } cases[] = {
        {1, nullptr, "application/json|--"},
        {2, R"({"headers":["X-A: 1","auth_digest:u:p"]})", "multipart/form-data|1u:p"},
        {2, "{}", "multipart/form-data|--"},
        {2, nullptr, "multipart/form-data|--"},
        {7, R"({"headers":["X-A: 1"]})", "multipart/form-data|--"},
    };
    for (const Case& c : cases) {
        Seen seen;
        EXPECT_EQ(finish(upload_asyn(server_.url("/h"), file, &seen, c.conten_type, c.doc),
                         quillnet_stop_upload_asyn_urlfile, seen),
                  0);
        const qntest::Upload up = last();
        const size_t type = c.seen.find('|');
        EXPECT_EQ(up.header("Content-Type").substr(0, type) + "|" + up.header("X-A") + up.header("auth_digest"),
                  c.seen);
        EXPECT_EQ(up.parts.size(), c.conten_type == 1 ? 0u : 3u);  // a JSON body is no form to the server
    }
}

TEST_F(Upload, MissingFileAndNoServer) {
    const std::string missing = out_.file("none"), file = out_.write("f", "x");
    Seen seen;
    const int64_t threaded = quillnet_upload_urlfile_ex(server_.url("/a").c_str(), missing.c_str(), &seen, &record);
    const int64_t asyn = upload_asyn(server_.url("/a"), missing, &seen);
    const int64_t refused = quillnet_upload_urlfile_ex("http://127.0.0.1:1/a b", file.c_str(), nullptr, nullptr);
    Lines log;
    ASSERT_TRUE(eventually([&] {
        const Lines more = logged();
        log.insert(log.end(), more.begin(), more.end());
        return grep(log, "ptr == NULL").size() == 2 && !grep(log, "curlcode:").empty();
    }));
    EXPECT_EQ(quillnet_stop_upload_asyn_urlfile(asyn), 1);  // never ended by itself
    EXPECT_EQ(finish(upload_asyn("http://127.0.0.1:1/a", file, &seen), quillnet_stop_upload_asyn_urlfile, seen), 1);
    EXPECT_TRUE(seen.events == std::vector<int>{TASK_EVENT_DONE} && server_.uploads().empty());
    EXPECT_EQ(quillnet_getpos_upload_urlfile(threaded) + quillnet_getpos_upload_urlfile(refused), 0);
    const Lines more = logged();
    log.insert(log.end(), more.begin(), more.end());
    EXPECT_EQ(grep(log, "curlcode:"), Lines{"35 CLibcurlWrapper::instance().curl_easy_perform(curl) != "
                                            "CURLE_OK,http://127.0.0.1:1/a%20b curlcode:7"});
    EXPECT_EQ(grep(log, "data.result"), Lines{"35 curl_msg->data.result != CURLE_OK curl_msg->data.result:7"});
    EXPECT_FALSE(grep(log, "30 ultotal == 0").empty());  // before the size of the form is known
    const int64_t a =
        quillnet_upload_asyn_urlfile("http://127.0.0.1:1/a", file.c_str(), "b", 0, 2, 1, "{}", -1, nullptr, nullptr);
    const auto* ai = reinterpret_cast<qn::transfer::asyn_upload_info*>(a);  // empty copies are none
    EXPECT_TRUE(ai->body == nullptr && ai->body_len == 0 && ai->param_ex == nullptr && ai->param_ex_len == 0);
    EXPECT_EQ(quillnet_stop_upload_asyn_urlfile(a), 1);
}

TEST_F(Upload, StopRightAfterStartAndMidway) {
    const std::string content = pattern(20u << 20), file = out_.write("big", content);
    qntest::Form form;
    form.add(WEB_PART_SENDFILE, "big", content);
    // A stopped task may leave an idle connection, which the server must not
    // close just as the next task reuses it: a POST under way is not sent again.
    server_.keep_alive(30);
    for (int kind = 0; kind < 4; ++kind) {
        SCOPED_TRACE(kind);
        const bool upload = kind < 2;
        Seen seen;
        const int64_t fd = upload ? upload_asyn(server_.url("/slow"), file, &seen)
                                  : multipart(server_.url("/slow"), form.get(), &seen);
        const auto getpos = upload ? quillnet_getpos_upload_asyn_urlfile : quillnet_getpos_multipart_asyn;
        const bool moving = kind % 2 == 0 || eventually([&] { return getpos(fd) > 0 && server_.bytes_read() > 0; }, 60);
        EXPECT_EQ((upload ? quillnet_stop_upload_asyn_urlfile : quillnet_stop_multipart_asyn)(fd), 1);
        ASSERT_TRUE(moving);
        EXPECT_TRUE(seen.dones == 1 && seen.done == 1 && seen.last_percent() < 100);
    }
    // The two stopped midway were read in part; none was read whole.
    ASSERT_TRUE(eventually([&] { return server_.uploads().size() >= 2; }));
    for (const qntest::Upload& up : server_.uploads()) EXPECT_FALSE(up.complete);
}

// Every kind of part, the description freed after the start; always a POST.
TEST_F(Upload, MultipartPartsAsTheHostDescribesThem) {
    const std::string zeros = pattern(70000);
    const Lines all = {"a|" + kType + "alpha", "b|||be", "file|x.bin" + kType + zeros, "sendfile|y.bin" + kType + "yy"};
    size_t posts = 0;
    for (int submit_type : {2, 1, -2}) {  // negative: no parts
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
        EXPECT_EQ(finish(fd, quillnet_stop_multipart_asyn, seen), 0);
        EXPECT_TRUE(seen.data == pattern(200000));
        EXPECT_EQ(seen.last_percent(), submit_type > 0 ? 100 : -1);  // nothing to send, no progress
        EXPECT_EQ(server_.uploads().size(), ++posts);  // a POST: the server takes no other
        const qntest::Upload up = last();
        EXPECT_TRUE(up.parts == (submit_type > 0 ? all : Lines{}));
        EXPECT_EQ(up.header("X-A") + up.header("Accept-Charset") + up.header("Accept-Encoding"), "1utf-8utf-8");
    }
}

TEST_F(Upload, MultipartDescriptionsRefused) {
    qntest::Form negative, form;
    web_data* with_negative = negative.add(1, "a", "b").get();
    with_negative->parts[0]->data_len = -1;
    web_data* counted = form.get();
    for (int count : {-1, 1025}) {
        counted->header->count = count;
        EXPECT_EQ(multipart(server_.url("/"), counted, nullptr), -1);
    }
    EXPECT_EQ(multipart(server_.url("/"), with_negative, nullptr), -1);
    with_negative->parts[0]->data_len = INT64_MAX - 100;  // no block can hold its copy
    EXPECT_EQ(multipart(server_.url("/"), with_negative, nullptr), -1);
    const std::string count = "30 web_data->header->count < 0 || web_data->header->count > 1024";
    EXPECT_EQ(grep(logged(), "30 "), (Lines{count, count, "30 web_data->parts[i]->data_len < 0", "30 info == NULL"}));
    EXPECT_TRUE(server_.uploads().empty());
}

// An ended threaded upload is joined when the next starts; its handle stays.
TEST_F(Upload, EndedThreadedUploadsAreJoinedAtTheNextStart) {
    const std::string file = out_.write("j", "joined");
    const auto start = [&] { return quillnet_upload_urlfile_ex(server_.url("/j").c_str(), file.c_str(), nullptr, nullptr); };
    auto* first = reinterpret_cast<upload_info*>(start());
    ASSERT_TRUE(eventually([&] { return server_.uploads().size() == 1 && task_threads() == 0; }));
    EXPECT_NE(first->thread, nullptr);  // ended, not joined yet
    const int64_t second = start();
    EXPECT_EQ(first->thread, nullptr);
    EXPECT_EQ(quillnet_getpos_upload_urlfile(reinterpret_cast<int64_t>(first)), 100);
    ASSERT_TRUE(eventually([&] { return quillnet_getpos_upload_urlfile(second) == 100; }));
}

TEST_F(TaskCycles, AsynchronousUploadsAndMultipart) {
    const std::string file = out_.write("c1", pattern(1u << 20));
    run(20, [&](const std::string& url) { return upload_asyn(url, file, nullptr); }, quillnet_stop_upload_asyn_urlfile);
    qntest::Form form;
    form.add(5, "c", pattern(1u << 20)).add(1, "f", "v");
    run(20, [&](const std::string& url) { return multipart(url, form.get(), nullptr); }, quillnet_stop_multipart_asyn);
}
