#include "document.h"

#include <json-c/json.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>
#include <vector>

namespace hubcore {

namespace {

// Reads a text value out of a bag: size query first, then the fetch. The
// size can grow between the two if someone else writes the bag, so a
// second "more data" answer simply asks again.
bool read_bag_text(mj::IMJParamBag* bag, const char* name, std::string& out) {
    for (int attempt = 0; attempt < 4; ++attempt) {
        int32_t size = 0;
        if (bag->GetText(name, nullptr, &size) != mj::MJ_E_MORE_DATA || size < 1) return false;
        std::vector<char> buffer(static_cast<size_t>(size));
        int32_t capacity = size;
        const mj::result_t rc = bag->GetText(name, buffer.data(), &capacity);
        if (rc == mj::MJ_S_OK) {
            buffer.back() = '\0';
            out.assign(buffer.data());
            return true;
        }
        if (rc != mj::MJ_E_MORE_DATA) return false;
    }
    return false;
}

bool read_whole_file(const std::string& path, std::string& content) {
    // u8path: the name arrives as UTF-8, which Windows only opens correctly
    // through a wide path.
    std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
    if (!in) return false;
    content.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool only_blanks(const std::string& text, size_t from) {
    for (size_t i = from; i < text.size(); ++i) {
        const char c = text[i];
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n') return false;
    }
    return true;
}

}  // namespace

json_object* load_json_object(const std::string& path) {
    std::string text;
    if (path.empty() || !read_whole_file(path, text)) return nullptr;

    // Configuration files saved by Windows editors often start with a
    // UTF-8 byte order mark, which the tokener would reject.
    size_t start = 0;
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) start = 3;
    if (text.size() - start >= static_cast<size_t>(INT_MAX)) return nullptr;

    // The tokener works on its own state only, unlike json_object_from_file,
    // which records failures in a process-wide buffer.
    json_tokener* tok = json_tokener_new();
    if (tok == nullptr) return nullptr;
    // The length includes the terminating NUL so that the tokener knows the
    // input ends there; an embedded NUL ends the parse early and shows up
    // as trailing bytes below.
    const int length = static_cast<int>(text.size() - start) + 1;
    json_object* root = json_tokener_parse_ex(tok, text.c_str() + start, length);
    const bool complete = json_tokener_get_error(tok) == json_tokener_success;
    const size_t end = start + json_tokener_get_parse_end(tok);
    json_tokener_free(tok);

    if (root == nullptr) return nullptr;
    // Half a file or a second value after the first is a broken file, not
    // a document to guess from.
    if (!complete || !only_blanks(text, std::min(end, text.size())) ||
        !json_object_is_type(root, json_type_object)) {
        json_object_put(root);
        return nullptr;
    }
    return root;
}

Document::Document(json_object* root) : root_(root) {}

Document::~Document() {
    if (root_ != nullptr) json_object_put(root_);
}

mj::result_t MJ_CALL Document::Get(const char* key, mj::IMJParamBag* bag) {
    if (key == nullptr || bag == nullptr) return mj::MJ_E_POINTER;
    if (root_ == nullptr) return mj::MJ_E_FAIL;

    // Only calls that read the parsed tree: lookups and the accessors of
    // scalars. Anything that serialises (json_object_to_json_string, or
    // json_object_get_string on a non-string) writes a cache into the
    // object and would race between readers.
    json_object* value = nullptr;
    if (!json_object_object_get_ex(root_, key, &value) || value == nullptr) return mj::MJ_E_FAIL;
    switch (json_object_get_type(value)) {
    case json_type_string:
        return bag->SetText(key, json_object_get_string(value));
    case json_type_int:
        // Integers above INT64_MAX are clamped by json-c; nothing we read
        // (ports, sizes, switches) comes near that.
        return bag->SetInt(key, json_object_get_int64(value), mj::MJ_PARAM_INT);
    case json_type_double:
        return bag->SetDouble(key, json_object_get_double(value));
    case json_type_boolean:
        return bag->SetInt(key, json_object_get_boolean(value) ? 1 : 0, mj::MJ_PARAM_BOOL);
    default:
        // null, arrays and objects have no bag type.
        return mj::MJ_E_FAIL;
    }
}

mj::result_t MJ_CALL DocumentFactory::Open(mj::IMJParamBag* bag, mj::IHubDocument** document) {
    if (document == nullptr) return mj::MJ_E_POINTER;
    *document = nullptr;

    json_object* root = nullptr;
    mj::result_t rc = mj::MJ_E_POINTER;
    if (bag != nullptr) {
        try {
            std::string path;
            if (read_bag_text(bag, "file", path)) root = load_json_object(path);
        } catch (...) {
            root = nullptr;
        }
        rc = root != nullptr ? mj::MJ_S_OK : mj::MJ_E_FAIL;
    }

    // Callers hold on to whatever they get and only test their reads, so
    // even a failed open hands out a (then empty) document.
    Document* doc = new (std::nothrow) Document(root);
    if (doc == nullptr) {
        if (root != nullptr) json_object_put(root);
        return mj::MJ_E_FAIL;
    }
    *document = doc;
    return rc;
}

}  // namespace hubcore
