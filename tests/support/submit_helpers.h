// A response body of the library's, and a multipart description as a host lays it out.
#ifndef QN_TEST_SUBMIT_HELPERS_H
#define QN_TEST_SUBMIT_HELPERS_H

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "quillnet.h"

namespace qntest {

struct Body {
    char* ptr = nullptr;
    int len = -1;
    Body() = default;
    Body(const Body&) = delete;
    Body& operator=(const Body&) = delete;
    ~Body() { quillnet_release(&ptr); }
    std::string str() const { return ptr == nullptr ? "" : std::string(ptr, static_cast<size_t>(std::max(len, 0))); }
};

// A header, a table of part pointers, each part a block with its data after the name.
class Form {
public:
    // A name longer than the part's 260 characters fills them unterminated.
    Form& add(int type, const std::string& name, const std::string& data) {
        auto* p = static_cast<web_part*>(std::calloc(1, offsetof(web_part, data) + data.size() + 1));
        p->type = type;
        p->data_len = static_cast<int64_t>(data.size());
        std::memcpy(p->name, name.data(), std::min(name.size(), sizeof(p->name)));
        std::memcpy(p->data, data.data(), data.size());
        parts_.emplace_back(p);
        return *this;
    }
    // Gives the last part added another data_len than its data's size.
    Form& length(int64_t data_len) {
        parts_.back()->data_len = data_len;
        return *this;
    }
    web_data* get() {
        table_.reset(static_cast<web_data*>(std::calloc(parts_.size() + 2, sizeof(void*))));
        header_.count = static_cast<int>(parts_.size());
        table_->header = &header_;
        for (size_t i = 0; i < parts_.size(); ++i) table_->parts[i] = parts_[i].get();
        return table_.get();
    }

private:
    struct Free { void operator()(void* p) const { std::free(p); } };
    web_data_header header_{0, 0};
    std::vector<std::unique_ptr<web_part, Free>> parts_;
    std::unique_ptr<web_data, Free> table_;
};

}  // namespace qntest

#endif
