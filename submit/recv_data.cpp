#include "submit/recv_data.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#include "log/log_record.h"
#include "platform/platform.h"

namespace {

constexpr size_t kLargePageBlockBytes = size_t{4} << 20;

}  // namespace

size_t on_curl_recv_data(char* ptr, size_t size, size_t nmemb, void* stream) {
    if (ptr == nullptr) {
        qn::log::Error() << "on_curl_recv_data -- ptr == NULL" << "\n";
        return 0;
    }
    if (stream == nullptr) {
        qn::log::Error() << "on_curl_recv_data -- stream == NULL" << "\n";
        return 0;
    }
    recv_data* data = static_cast<recv_data*>(stream);
    const size_t n = size * nmemb;

    // The terminator needs one byte beyond the body, so a chunk exactly as
    // large as the free space already forces a doubling. libcurl's chunks
    // are far smaller than the first block, but a larger one is not refused:
    // the block doubles until the chunk fits. Capacity stays a signed 32-bit
    // value; a doubling past that range counts as a failed allocation.
    size_t capacity = static_cast<size_t>(data->capacity);
    const size_t length = static_cast<size_t>(data->length);
    if (capacity - length <= n) {
        while (capacity - length <= n) {
            if (capacity > static_cast<size_t>(INT32_MAX) / 2) {
                capacity = 0;
                break;
            }
            capacity *= 2;
        }
        char* grown = capacity == 0 ? nullptr : static_cast<char*>(std::realloc(data->buf, capacity));
        if (grown == nullptr) {
            qn::log::Error() << "on_curl_recv_data-- on_curl_recv_data" << "\n";
            return 0;
        }
        data->buf = grown;
        data->capacity = static_cast<int32_t>(capacity);
        // A block this large belongs to an answer that fills it; large pages
        // save most of what touching it for the first time costs.
        if (capacity >= kLargePageBlockBytes) qn::platform::prefer_large_pages(grown, capacity);
    }
    std::memcpy(data->buf + length, ptr, n);
    data->length = static_cast<int32_t>(length + n);
    data->buf[data->length] = '\0';
    return n;
}

namespace qn {
namespace submit {

recv_data* recv_data_create(RecvDataStatus* status) {
    recv_data* data = static_cast<recv_data*>(std::calloc(1, sizeof(recv_data)));
    if (data == nullptr) {
        if (status != nullptr) *status = RecvDataStatus::kNoRecord;
        return nullptr;
    }
    data->buf = static_cast<char*>(std::calloc(1, kRecvDataInitialCapacity));
    if (data->buf == nullptr) {
        std::free(data);
        if (status != nullptr) *status = RecvDataStatus::kNoBlock;
        return nullptr;
    }
    data->capacity = kRecvDataInitialCapacity;
    data->length = 0;
    if (status != nullptr) *status = RecvDataStatus::kOk;
    return data;
}

void recv_data_free(recv_data* data, bool keep_buf) {
    if (data == nullptr) return;
    if (!keep_buf) std::free(data->buf);
    std::free(data);
}

bool ReceiveBuffer::create() {
    RecvDataStatus status = RecvDataStatus::kOk;
    data_ = recv_data_create(&status);
    if (data_ != nullptr) return true;
    if (status == RecvDataStatus::kNoRecord) {
        qn::log::Error() << "recv_data == NULL" << "\n";
    } else {
        qn::log::Error() << "recv_data->buf == NULL" << "\n";
    }
    return false;
}

void ReceiveBuffer::finish(int result, char** ret_buf, int* ret_buf_len) {
    if (data_ == nullptr) return;
    const bool hand_out = result == 0 && ret_buf != nullptr;
    if (hand_out) *ret_buf = data_->buf;
    if (ret_buf_len != nullptr) *ret_buf_len = data_->length;
    recv_data_free(data_, hand_out);
    data_ = nullptr;
}

}  // namespace submit
}  // namespace qn
