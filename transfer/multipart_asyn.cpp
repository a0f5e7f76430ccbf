// The asynchronous multipart submit: the host's multipart description is
// copied at the start, and a worker posts it as a form through libcurl's
// multi interface, with the asynchronous upload's loop and callbacks.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "Public/Helper/UrlDealwith.h"
#include "api/export_guard.h"
#include "curl/libcurl_wrapper.h"
#include "curl/transfer.h"
#include "log/log_record.h"
#include "quillnet.h"
#include "submit/multipart_form.h"
#include "submit/param_doc.h"
#include "submit/submit_internal.h"
#include "transfer/upload_task.h"

namespace qn {
namespace transfer {

namespace {

// Where a part's fields lie in its copy, as in a host's web_part.
constexpr size_t kHeaderSize = sizeof(web_data_header);
constexpr size_t kTypeAt = offsetof(web_part, type);
constexpr size_t kDataLenAt = offsetof(web_part, data_len);
constexpr size_t kNameAt = offsetof(web_part, name);
constexpr size_t kDataAt = offsetof(web_part, data);
// Each part's share of the copy besides its data: its fields, and at least
// four zero bytes after the data.
constexpr uint64_t kPartOverhead = 280;
static_assert(kHeaderSize == 8 && kDataAt == 276 && kPartOverhead >= kDataAt + 4,
              "the copy is laid out as hosts lay out their parts");

// The description's checks beyond the null ones. A count outside 0 to 1024
// does not fit the record, and a negative length cannot be copied: both
// are refused with -1, in the manner of the other checks. Parts the host
// left null are skipped, as the synchronous multipart submit skips them.
// On success `*size` is the size of the copy, or 0 when no block could
// hold it.
bool check_description(const web_data* data, size_t* size) {
    const int count = data->header->count;
    if (count < 0 || count > kMaxWebParts) {
        qn::log::Warn() << "web_data->header->count < 0 || web_data->header->count > 1024" << "\n";
        return false;
    }
    constexpr auto kLimit = static_cast<uint64_t>(std::numeric_limits<std::ptrdiff_t>::max());
    uint64_t total = kHeaderSize + 1;
    bool fits = true;
    for (int i = 0; i < count; ++i) {
        const web_part* part = data->parts[i];
        if (part == nullptr) continue;
        if (part->data_len < 0) {
            qn::log::Warn() << "web_data->parts[i]->data_len < 0" << "\n";
            return false;
        }
        const uint64_t need = kPartOverhead + static_cast<uint64_t>(part->data_len);
        fits = fits && need <= kLimit - total;
        if (fits) total += need;
    }
    *size = fits ? static_cast<size_t>(total) : 0;
    return true;
}

// Copies the description into one zeroed block: the header's two fields,
// then each part's type, length, name (cut to 259 characters, so that a
// name without its terminator never reads on) and data, the next part
// 280 + data_len bytes on. False when the block cannot be allocated.
bool copy_description(const web_data* data, size_t size, multipart_asyn_info* info) {
    if (size == 0) return false;
    char* block = static_cast<char*>(std::calloc(size, 1));
    if (block == nullptr) return false;
    std::memcpy(block, data->header, kHeaderSize);
    char* at = block + kHeaderSize;
    const int count = data->header->count;
    for (int i = 0; i < count; ++i) {
        const web_part* part = data->parts[i];
        if (part == nullptr) continue;
        const auto data_len = static_cast<size_t>(part->data_len);
        info->parts[i] = at;
        std::memcpy(at + kTypeAt, &part->type, sizeof(part->type));
        std::memcpy(at + kDataLenAt, &part->data_len, sizeof(part->data_len));
        const char* name_end = std::find(part->name, part->name + sizeof(part->name) - 1, '\0');
        std::memcpy(at + kNameAt, part->name, static_cast<size_t>(name_end - part->name));
        std::memcpy(at + kDataAt, part->data, data_len);
        at += kPartOverhead + data_len;
    }
    info->web_data = block;
    return true;
}

// A copied part's fields, read byte-wise: the copy is not aligned for them.
qn::submit::WebPartView read_copied_part(const char* at) {
    qn::submit::WebPartView part{};
    std::memcpy(&part.type, at + kTypeAt, sizeof(part.type));
    std::memcpy(&part.data_len, at + kDataLenAt, sizeof(part.data_len));
    part.name = at + kNameAt;
    part.data = at + kDataAt;
    return part;
}

int copied_count(const multipart_asyn_info* info) {
    web_data_header header{};
    std::memcpy(&header, info->web_data, sizeof(header));
    return header.count;
}

}  // namespace

void multipart_asyn_worker(multipart_asyn_info* info) {
    if (info == nullptr) {
        qn::log::Warn() << "info == NULL" << "\n";
        return;
    }
    guard_worker("multipart_asyn_worker", [&] {
        asyn_upload_info& head = info->upload_info;
        qn::curl::Transfer transfer;
        CURL* curl = transfer.easy();
        if (curl == nullptr || !transfer.create_multi()) {
            qn::log::Info() << "curl == NULL || multi_curl == NULL" << "\n";
            return;
        }
        const int count = copied_count(info);
        for (int i = 0; i < count; ++i) {
            if (info->parts[i] != nullptr) qn::submit::add_web_part(transfer.form(), read_copied_part(info->parts[i]));
        }
        qn::submit::start_headers(transfer);
        if (head.param_ex != nullptr) {
            qn::submit::add_param_ex_headers(head.param_ex, transfer.headers(),
                                             qn::submit::AuthDigestMode::kSendAsHeader, nullptr);
        }
        // Whatever the code, the form set afterwards makes the request a
        // multipart POST. Without parts there is no form, and GET is not
        // asked for either.
        CLibcurlWrapper& curl_api = CLibcurlWrapper::instance();
        if (head.submit_type == qn::submit::kSubmitPost) {
            curl_api.curl_easy_setopt(curl, CURLOPT_HTTPPOST, transfer.form().get());
            curl_api.curl_easy_setopt(curl, CURLOPT_POST, 1L);
        } else {
            curl_api.curl_easy_setopt(curl, CURLOPT_HTTPGET, transfer.form().get() != nullptr ? 1L : 0L);
        }
        const std::string new_url = UrlFormat::HttpHeadDealwith::GetNewUrl(head.url);
        // The upload's loop: it leaves as soon as a perform ends the transfer.
        run_asyn_upload(&head, transfer, new_url, kAsynMultipart);
    });
}

}  // namespace transfer
}  // namespace qn

using qn::transfer::multipart_asyn_info;

extern "C" QUILLNET_API int64_t quillnet_submit_multipart_asyn(const char* url, web_data* data, int nosignal,
                                                               int submit_type, int conten_type,
                                                               const char* param_ex, int param_ex_len,
                                                               void* user_data, TaskCallback callback) {
    return qn::api::guarded("quillnet_submit_multipart_asyn", int64_t{-1}, [&]() -> int64_t {
        if (url == nullptr) {
            qn::log::Warn() << "url == NULL" << "\n";
            return -1;
        }
        if (data == nullptr) {
            qn::log::Warn() << "web_data == NULL" << "\n";
            return -1;
        }
        if (data->header == nullptr) {
            qn::log::Warn() << "web_data->header == NULL" << "\n";
            return -1;
        }
        size_t size = 0;
        if (!qn::transfer::check_description(data, &size)) return -1;
        if (!qn::submit::web_parts_usable(data)) return -1;
        multipart_asyn_info* info =
            qn::transfer::new_task_record<multipart_asyn_info>("info == NULL", qn::log::kLevelWarn);
        if (info == nullptr) return -1;
        qn::transfer::asyn_upload_info& head = info->upload_info;
        // A copy that cannot be allocated fails the start like the record.
        if (!qn::transfer::copy_description(data, size, info) ||
            !qn::transfer::copy_bytes(param_ex, param_ex_len, &head.param_ex, &head.param_ex_len)) {
            qn::transfer::TaskKind<multipart_asyn_info>::release(*info);
            std::free(info);
            qn::log::Warn() << "info == NULL" << "\n";
            return -1;
        }
        head.conten_type = conten_type;
        head.submit_type = submit_type;
        head.nosignal = nosignal;
        head.callback = callback;
        qn::transfer::copy_text(head.url, url);
        head.user_data = user_data;
        return qn::transfer::start_task<multipart_asyn_info, &qn::transfer::multipart_asyn_worker>(
            info, qn::log::kLevelWarn);
    });
}

extern "C" QUILLNET_API int quillnet_stop_multipart_asyn(int64_t fd) {
    return qn::api::guarded("quillnet_stop_multipart_asyn", 0,
                            [&] { return qn::transfer::stop_task<multipart_asyn_info>(fd, "info == NULL"); });
}

extern "C" QUILLNET_API int quillnet_getpos_multipart_asyn(int64_t fd) {
    return qn::api::guarded("quillnet_getpos_multipart_asyn", -1, [&] {
        return qn::transfer::task_position<multipart_asyn_info>(fd, "info == NULL", qn::log::kLevelInfo);
    });
}
