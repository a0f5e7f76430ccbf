// The library fixture with a folder for the files and the log read back.
#ifndef QN_TEST_TRANSFER_FIXTURE_H
#define QN_TEST_TRANSFER_FIXTURE_H

#include <cstring>
#include <string>
#include <vector>

#include "harness.h"
#include "http_server.h"

using Lines = std::vector<std::string>;
using qntest::eventually;
using qntest::finish;
using qntest::pattern;
using qntest::read_file;
using qntest::record;
using qntest::Seen;

inline int length(const char* text) { return text == nullptr ? 0 : static_cast<int>(std::strlen(text)); }

// The records in `log` that contain `part`.
inline Lines grep(const Lines& log, const std::string& part) {
    Lines out;
    for (const std::string& r : log) {
        if (r.find(part) != std::string::npos) out.push_back(r);
    }
    return out;
}

class TransferTest : public qntest::LibraryTest {
protected:
    Lines logged() { return log_.records(); }
    qntest::TempDir out_;
};

// With the file routes of a server of its own.
class FilesTest : public TransferTest {
protected:
    void SetUp() override {
        TransferTest::SetUp();
        server_.serve_files().start();
    }
    qntest::HttpServer server_;
};

#endif
