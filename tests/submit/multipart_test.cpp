// quillnet_submit_multipart and quillnet_submit_multipart_ex: the parts as
// a real server parses them, their order on the wire, the option document,
// and the failures.
#include <curl/curl.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "http_server.h"
#include "https_server.h"
#include "submit_fixture.h"

using qntest::Body;
using qntest::RawConnection;
using qntest::RawHttpServer;

namespace {

// A multipart description laid out as a host lays it out: a header, a table
// of part pointers, and parts with their data right after the name.
class Description {
public:
    ~Description() {
        for (web_part* p : parts_) std::free(p);
        std::free(table_);
    }

    void add(int type, const std::string& name, const std::string& data) {
        const size_t size = offsetof(web_part, data) + data.size() + 1;
        auto* part = static_cast<web_part*>(std::calloc(1, size));
        part->type = type;
        part->data_len = static_cast<int64_t>(data.size());
        std::strncpy(part->name, name.c_str(), sizeof(part->name) - 1);
        std::memcpy(part->data, data.data(), data.size());
        parts_.push_back(part);
    }

    web_data* get() {
        std::free(table_);
        const size_t slots = parts_.empty() ? 1 : parts_.size();
        table_ = static_cast<web_data*>(
            std::calloc(1, offsetof(web_data, parts) + slots * sizeof(web_part*)));
        header_.count = static_cast<int>(parts_.size());
        table_->header = &header_;
        for (size_t i = 0; i < parts_.size(); ++i) table_->parts[i] = parts_[i];
        return table_;
    }

private:
    web_data_header header_{0, 0};
    std::vector<web_part*> parts_;
    web_data* table_ = nullptr;
};

// The names and file names of the parts, in the order they were posted.
std::vector<std::string> disposition_order(const std::string& body) {
    std::vector<std::string> out;
    const std::string key = "Content-Disposition: form-data; ";
    for (size_t pos = body.find(key); pos != std::string::npos; pos = body.find(key, pos + 1)) {
        const size_t end = body.find("\r\n", pos);
        out.push_back(body.substr(pos + key.size(), end - pos - key.size()));
    }
    return out;
}

class MultipartSubmit : public qntest::SubmitTest {};

}  // namespace

TEST_F(MultipartSubmit, EveryKindAsTheServerParsesIt) {
    qntest::HttpServer server;
    httplib::MultipartFormDataItems parts;
    server.server().Post("/upload", [&](const httplib::Request& req, httplib::Response& res) {
        for (const auto& item : req.files) parts.push_back(item.second);
        res.set_content("stored", "text/plain");
    });
    server.start();

    const std::string binary("\x00\x01zero\x00inside\xff\x00", 14);
    const std::string other_binary("\x00\x00\x00", 3);
    Description d;
    d.add(WEB_PART_FIELD_TYPED, "title", "hello world");
    d.add(WEB_PART_FIELD, "plain", "just text");
    d.add(WEB_PART_FILE, "a.bin", binary);
    d.add(WEB_PART_SENDFILE, "b.dat", other_binary);
    Body body;
    ASSERT_EQ(quillnet_submit_multipart(server.url("/upload").c_str(), 10, d.get(), 0, &body.ptr,
                                        &body.len),
              0);
    EXPECT_EQ(body.str(), "stored");

    ASSERT_EQ(parts.size(), 4u);
    std::map<std::string, httplib::MultipartFormData> by_name;
    for (const auto& p : parts) by_name[p.name] = p;
    EXPECT_EQ(by_name["title"].content, "hello world");
    EXPECT_EQ(by_name["title"].content_type, "multipart/form-data");
    EXPECT_EQ(by_name["title"].filename, "");
    EXPECT_EQ(by_name["plain"].content, "just text");
    EXPECT_EQ(by_name["plain"].content_type, "");
    EXPECT_TRUE(by_name["file"].content == binary);
    EXPECT_EQ(by_name["file"].filename, "a.bin");
    EXPECT_EQ(by_name["file"].content_type, "multipart/form-data");
    EXPECT_TRUE(by_name["sendfile"].content == other_binary);
    EXPECT_EQ(by_name["sendfile"].filename, "b.dat");
    EXPECT_EQ(by_name["sendfile"].content_type, "multipart/form-data");
}

TEST_F(MultipartSubmit, PartsInOrderAndUnknownKindsSkipped) {
    RawHttpServer server(qntest::answer("ok"));
    server.start();
    Description d;
    d.add(WEB_PART_FILE, "first.txt", "abc");
    d.add(2, "skipped-two", "x");
    d.add(WEB_PART_FIELD, "middle", "m");
    d.add(3, "skipped-three", "y");
    d.add(WEB_PART_FIELD_TYPED, "last", "z");
    d.add(99, "skipped-99", "w");
    Body body;
    ASSERT_EQ(quillnet_submit_multipart_ex(server.url("/m").c_str(), 10, d.get(), 0, nullptr,
                                           &body.ptr, &body.len),
              0);
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method(), "POST");
    EXPECT_EQ(disposition_order(requests[0].body),
              (std::vector<std::string>{"name=\"file\"; filename=\"first.txt\"", "name=\"middle\"",
                                        "name=\"last\""}))
        << requests[0].body;
    EXPECT_TRUE(records_containing("param_ex != NULL").empty());
    // Never answered from the request cache, so no dump line.
    EXPECT_FALSE(records_containing("] perform ret:0").empty());
    EXPECT_TRUE(records_containing("by net").empty());
}

TEST_F(MultipartSubmit, NoPartsStillPerformsTheRequest) {
    RawHttpServer server(qntest::answer("empty form"));
    server.start();
    Description d;
    Body body;
    ASSERT_EQ(quillnet_submit_multipart(server.url("/none").c_str(), 10, d.get(), 0, &body.ptr,
                                        &body.len),
              0);
    EXPECT_EQ(body.str(), "empty form");
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_TRUE(disposition_order(server.requests()[0].body).empty());
}

TEST_F(MultipartSubmit, DocumentLinesFollowTheDefaultLines) {
    RawHttpServer server(qntest::answer("ok"));
    server.start();
    Description d;
    d.add(WEB_PART_FIELD, "k", "v");
    int len = -1;
    ASSERT_EQ(quillnet_submit_multipart_ex(server.url("/h").c_str(), 10, d.get(), 0,
                                           R"({"headers":["X-Token: t1", null, "auth_digest:u:p"]})",
                                           nullptr, &len),
              0);
    EXPECT_EQ(len, 2);
    const auto lines = server.requests().at(0).header_lines();
    const int charset = qntest::line_index(lines, "Accept-Charset: utf-8");
    ASSERT_GE(charset, 0);
    EXPECT_EQ(qntest::line_index(lines, "Accept-Encoding: utf-8"), charset + 1);
    EXPECT_EQ(qntest::line_index(lines, "X-Token: t1"), charset + 2);
    EXPECT_EQ(qntest::line_index(lines, "auth_digest:u:p"), charset + 3);
    EXPECT_EQ(record("param_ex != NULL"), 30);
    EXPECT_EQ(record("is_error(jso_header)"), 30);
    EXPECT_EQ(record("ret_buf == NULL"), 25);

    // A document without "headers" stops the request before anything is sent.
    Body body;
    EXPECT_EQ(quillnet_submit_multipart_ex(server.url("/h").c_str(), 10, d.get(), 0, "{}",
                                           &body.ptr, &body.len),
              -1);
    EXPECT_EQ(body.len, 0);
    EXPECT_EQ(body.ptr, nullptr);
    EXPECT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(record("is_error(jso_headers)"), 30);
}

TEST_F(MultipartSubmit, ChecksAndFailures) {
    Description d;
    d.add(WEB_PART_FIELD, "k", "v");
    Body body;
    EXPECT_EQ(quillnet_submit_multipart(nullptr, 10, d.get(), 0, &body.ptr, &body.len), -1);
    EXPECT_EQ(quillnet_submit_multipart("http://127.0.0.1:1/", -1, d.get(), 0, &body.ptr, &body.len),
              -1);
    EXPECT_EQ(quillnet_submit_multipart("http://127.0.0.1:1/", 10, nullptr, 0, &body.ptr, &body.len),
              -1);
    web_data no_header{};
    EXPECT_EQ(quillnet_submit_multipart_ex("http://127.0.0.1:1/", 10, &no_header, 0, nullptr,
                                           &body.ptr, &body.len),
              -1);
    EXPECT_EQ(record("url == NULL"), 25);
    EXPECT_EQ(record("timeout < 0"), 25);
    EXPECT_EQ(record("web_data == NULL || web_data->header == NULL"), 25);
    EXPECT_EQ(records_containing("web_data == NULL").size(), 2u);
    EXPECT_EQ(body.len, -1);

    // Nobody listening.
    RawHttpServer closed(qntest::answer(""));
    closed.start();
    const std::string url = closed.url("/gone");
    closed.stop();
    EXPECT_EQ(quillnet_submit_multipart(url.c_str(), 10, d.get(), 0, &body.ptr, &body.len), -1);
    EXPECT_EQ(body.ptr, nullptr);
    EXPECT_EQ(body.len, 0);
    EXPECT_EQ(record("error: CLibcurlWrapper::instance().curl_easy_perform(curl)[" +
                     std::to_string(CURLE_COULDNT_CONNECT) + "] != CURLE_OK, url:" + url),
              35);
}

TEST_F(MultipartSubmit, PeerCertificateIsVerified) {
    // Unlike the other submits, the multipart submit leaves libcurl's
    // certificate checks on, so a self-signed server is refused.
    qntest::HttpsServer server(config_.path());
    server.server().Post("/m", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("accepted", "text/plain");
    });
    server.start();
    Description d;
    d.add(WEB_PART_FIELD, "k", "v");
    Body body;
    EXPECT_EQ(quillnet_submit_multipart(server.url("/m").c_str(), 10, d.get(), 0, &body.ptr,
                                        &body.len),
              -1);
    EXPECT_TRUE(server.requests().empty());
    EXPECT_FALSE(records_containing("] != CURLE_OK, url:" + server.url("/m")).empty());
}
