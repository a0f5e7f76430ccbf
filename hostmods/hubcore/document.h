#ifndef HUBCORE_DOCUMENT_H
#define HUBCORE_DOCUMENT_H

#include <string>

#include <mj/mj_interfaces.h>

#include "ref_counted.h"

struct json_object;

namespace hubcore {

// A JSON object read once from a file and never changed afterwards, so any
// number of threads may call Get at the same time. Without a root (file
// missing, unreadable, not a JSON object) every Get fails.
class Document final : public RefCounted<Document, mj::IHubDocument> {
public:
    // Takes over the caller's reference to `root`, which may be null.
    explicit Document(json_object* root);
    ~Document();

    mj::result_t MJ_CALL Get(const char* key, mj::IMJParamBag* bag) override;

private:
    json_object* root_;
};

// Parses `path` (UTF-8) and answers its top-level JSON object, or null when
// the file cannot be read or does not hold exactly one JSON object.
json_object* load_json_object(const std::string& path);

class DocumentFactory final : public RefCounted<DocumentFactory, mj::IHubDocumentFactory> {
public:
    mj::result_t MJ_CALL Open(mj::IMJParamBag* bag, mj::IHubDocument** document) override;
};

}  // namespace hubcore

#endif  // HUBCORE_DOCUMENT_H
