// quillnet_submit and quillnet_submit_ex against real loopback servers: what
// goes out, what comes back, and how failures end.
#include <curl/curl.h>

#include <atomic>
#include <string>
#include <vector>

#include "http_server.h"
#include "submit_fixture.h"

using qntest::Body;
using qntest::RawConnection;
using qntest::RawHttpServer;

namespace {

class BasicSubmit : public qntest::SubmitTest {};

}  // namespace

TEST_F(BasicSubmit, PostsTheContentWithTheTwoHeaderLinesInOrder) {
    RawHttpServer server(qntest::answer("pong"));
    server.start();
    Body body;
    ASSERT_EQ(quillnet_submit_ex(server.url("/api/echo").c_str(), 10, "a=1&b=2", 0, &body.ptr,
                                 &body.len),
              0);
    EXPECT_EQ(body.str(), "pong");
    EXPECT_EQ(body.len, 4);

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    const qntest::RawRequest& req = requests[0];
    EXPECT_EQ(req.method(), "POST");
    EXPECT_EQ(req.target(), "/api/echo");
    EXPECT_EQ(req.body, "a=1&b=2");
    EXPECT_EQ(req.header("Content-Type"), "application/x-www-form-urlencoded");
    const auto lines = req.header_lines();
    const int charset = qntest::line_index(lines, "Accept-Charset: utf-8");
    const int encoding = qntest::line_index(lines, "Accept-Encoding: utf-8");
    ASSERT_GE(charset, 0) << req.head;
    EXPECT_EQ(encoding, charset + 1) << req.head;

    // The transfer itself is timed and logged by the perform road.
    EXPECT_FALSE(records_containing("] perform ret:0 spantime:").empty());
}

TEST_F(BasicSubmit, NullContentIsAnEmptyPostAndNullBufferDiscardsTheBody) {
    RawHttpServer server(qntest::answer("discarded"));
    server.start();
    int len = -1;
    EXPECT_EQ(quillnet_submit_ex(server.url("/x").c_str(), 10, nullptr, 0, nullptr, &len), 0);
    EXPECT_EQ(len, 9);  // the length is reported although the body is gone
    EXPECT_EQ(record("ret_buf == NULL"), 25);

    Body body;
    EXPECT_EQ(quillnet_submit(server.url("/y").c_str(), 10, nullptr, 1, &body.ptr), 0);
    ASSERT_NE(body.ptr, nullptr);
    EXPECT_STREQ(body.ptr, "discarded");

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    for (const auto& req : requests) {
        EXPECT_EQ(req.method(), "POST");
        EXPECT_EQ(req.header("Content-Length"), "0");
        EXPECT_EQ(req.body, "");
    }
}

TEST_F(BasicSubmit, ArgumentChecksLogAndFail) {
    Body body;
    int len = 7;
    EXPECT_EQ(quillnet_submit_ex(nullptr, 10, "x", 0, &body.ptr, &len), -1);
    EXPECT_EQ(quillnet_submit_ex("http://127.0.0.1:1/", -1, "x", 0, &body.ptr, &len), -1);
    EXPECT_EQ(quillnet_submit(nullptr, 10, "x", 0, &body.ptr), -1);
    EXPECT_EQ(body.ptr, nullptr);
    EXPECT_EQ(len, 7);  // nothing was attempted
    EXPECT_EQ(record("url == NULL"), 25);
    EXPECT_EQ(record("timeout < 0"), 25);
    EXPECT_EQ(records_containing("url == NULL").size(), 2u);
    EXPECT_TRUE(records_containing("perform ret:").empty());
}

TEST_F(BasicSubmit, ErrorStatusWithBodyIsASuccess) {
    RawHttpServer server(qntest::answer("<h1>broken</h1>", 500));
    server.start();
    Body body;
    ASSERT_EQ(quillnet_submit_ex(server.url("/fail").c_str(), 10, "q", 0, &body.ptr, &body.len), 0);
    EXPECT_EQ(body.str(), "<h1>broken</h1>");
    EXPECT_TRUE(records_containing("!= CURLE_OK").empty());
}

TEST_F(BasicSubmit, AnswersOfEverySize) {
    // 300000 bytes written in pieces of 16384, a body of several megabytes,
    // and an empty body; the buffer always ends in a zero byte.
    std::string large(300000, '\0');
    for (size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>('a' + i % 26);
    std::string huge(5 * 1024 * 1024 + 17, '\0');
    for (size_t i = 0; i < huge.size(); ++i) huge[i] = static_cast<char>('0' + (i * 7) % 10);

    RawHttpServer server([&](RawConnection& c) {
        const std::string& target = c.request().target();
        const std::string& body = target == "/large" ? large : target == "/huge" ? huge : std::string();
        c.send_in_pieces(RawHttpServer::response(200, body), 16384);
    });
    server.start();

    Body a;
    ASSERT_EQ(quillnet_submit_ex(server.url("/large").c_str(), 30, "", 0, &a.ptr, &a.len), 0);
    ASSERT_EQ(a.len, 300000);
    EXPECT_EQ(a.ptr[300000], '\0');
    EXPECT_TRUE(a.str() == large);

    Body b;
    ASSERT_EQ(quillnet_submit_ex(server.url("/huge").c_str(), 60, "", 0, &b.ptr, &b.len), 0);
    ASSERT_EQ(b.len, static_cast<int>(huge.size()));
    EXPECT_EQ(b.ptr[b.len], '\0');
    EXPECT_TRUE(b.str() == huge);

    Body c;
    ASSERT_EQ(quillnet_submit_ex(server.url("/empty").c_str(), 10, "", 0, &c.ptr, &c.len), 0);
    ASSERT_NE(c.ptr, nullptr);
    EXPECT_EQ(c.len, 0);
    EXPECT_EQ(c.ptr[0], '\0');
}

TEST_F(BasicSubmit, ConnectionDroppedPartWayFailsWithTheBytesReceived) {
    RawHttpServer server([](RawConnection& c) {
        const std::string head =
            "HTTP/1.1 200 OK\r\nContent-Length: 300000\r\nConnection: close\r\n\r\n";
        c.send(head + std::string(50000, 'z'));
        // The handler returning closes the connection 250000 bytes short.
    });
    server.start();
    char sentinel[] = "untouched";
    char* ret = sentinel;
    int len = -1;
    const std::string url = server.url("/drop");
    EXPECT_EQ(quillnet_submit_ex(url.c_str(), 10, "body-text", 0, &ret, &len), -1);
    EXPECT_EQ(ret, sentinel);
    EXPECT_EQ(len, 50000);
    const std::string expected = "error: CLibcurlWrapper::instance().curl_easy_perform(curl)[" +
                                 std::to_string(CURLE_PARTIAL_FILE) + "] != CURLE_OK, url:" + url +
                                 " content:body-text";
    EXPECT_EQ(record(expected), 35);
}

TEST_F(BasicSubmit, ServerThatNeverAnswersRunsIntoTheTimeout) {
    RawHttpServer server([](RawConnection& c) { c.hold_until_stopped(); });
    server.start();
    Body body;
    const std::string url = server.url("/silent");
    EXPECT_EQ(quillnet_submit_ex(url.c_str(), 1, "", 0, &body.ptr, &body.len), -1);
    EXPECT_EQ(body.ptr, nullptr);
    EXPECT_EQ(body.len, 0);
    EXPECT_EQ(record("error: CLibcurlWrapper::instance().curl_easy_perform(curl)[" +
                     std::to_string(CURLE_OPERATION_TIMEDOUT) + "] != CURLE_OK, url:" + url +
                     " content:"),
              35);
    server.stop();
}

TEST_F(BasicSubmit, UrlOfAHundredThousandCharacters) {
    RawHttpServer server(qntest::answer("long"));
    server.start();
    const std::string path = "/" + std::string(100000 - server.url("/").size(), 'p');
    const std::string url = server.url(path);
    ASSERT_EQ(url.size(), 100000u);
    Body body;
    ASSERT_EQ(quillnet_submit_ex(url.c_str(), 10, "", 0, &body.ptr, &body.len), 0);
    EXPECT_EQ(body.str(), "long");
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].target(), path);
}

TEST_F(BasicSubmit, CachedTreePathReachesTheServerOnceWithinTenSeconds) {
    qntest::HttpServer server;
    // Counted in the handler: the server's own record is written after the
    // answer has gone out, so it can lag behind the client.
    std::atomic<int> served{0};
    server.server().Post("/plume/device/queryDeviceOrgTree",
                         [&](const httplib::Request&, httplib::Response& res) {
                             ++served;
                             res.set_content("tree-" + std::to_string(served.load()), "text/plain");
                         });
    server.start();
    const std::string url = server.url("/plume/device/queryDeviceOrgTree");

    Body first;
    Body second;
    Body other;
    ASSERT_EQ(quillnet_submit_ex(url.c_str(), 10, "{\"org\":1}", 0, &first.ptr, &first.len), 0);
    ASSERT_EQ(quillnet_submit_ex(url.c_str(), 10, "{\"org\":1}", 0, &second.ptr, &second.len), 0);
    EXPECT_EQ(first.str(), "tree-1");
    EXPECT_EQ(second.str(), "tree-1");
    EXPECT_EQ(second.len, 6);
    EXPECT_EQ(served.load(), 1);

    // Another body is another question.
    ASSERT_EQ(quillnet_submit_ex(url.c_str(), 10, "{\"org\":2}", 0, &other.ptr, &other.len), 0);
    EXPECT_EQ(other.str(), "tree-2");
    EXPECT_EQ(served.load(), 2);
    EXPECT_FALSE(records_containing("by catch == Req:{\"org\":1} Rep:tree-1").empty());
}
