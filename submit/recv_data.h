// The receive buffer of a synchronous request: the body so far, always
// NUL-terminated, grown by doubling.
#ifndef QN_SUBMIT_RECV_DATA_H
#define QN_SUBMIT_RECV_DATA_H

#include <cstddef>
#include <cstdint>

struct recv_data {
    char* buf;         // malloc'ed block; handed to the caller or freed
    int32_t length;    // body bytes in buf
    int32_t capacity;  // size of the block
};

// libcurl write callback (CURLOPT_WRITEFUNCTION) with the record as
// CURLOPT_WRITEDATA. Returns the bytes taken, or 0 to abort the transfer.
size_t on_curl_recv_data(char* ptr, size_t size, size_t nmemb, void* stream);

namespace qn {
namespace submit {

constexpr int32_t kRecvDataInitialCapacity = 102400;
// The largest block doubling reaches within the signed 32-bit capacity
// (102400 << 14), and so the longest body the buffer holds: one byte less,
// for the terminator. A longer answer fails as soon as it passes that.
constexpr int32_t kRecvDataMaxCapacity = kRecvDataInitialCapacity << 14;
constexpr int32_t kRecvDataMaxBody = kRecvDataMaxCapacity - 1;

enum class RecvDataStatus { kOk, kNoRecord, kNoBlock };

// A zero-filled record with a zero-filled block of 102400 bytes. On failure
// returns null and says which allocation failed.
recv_data* recv_data_create(RecvDataStatus* status);

// Frees the block (unless `keep_buf`) and the record.
void recv_data_free(recv_data* data, bool keep_buf);

// The receive buffer of one request. Creation logs its own failures
// ("recv_data == NULL", "recv_data->buf == NULL", level 35). The record is
// freed on every way out; the block only moves to the caller in finish().
class ReceiveBuffer {
public:
    ReceiveBuffer() = default;
    ~ReceiveBuffer() { recv_data_free(data_, false); }
    ReceiveBuffer(const ReceiveBuffer&) = delete;
    ReceiveBuffer& operator=(const ReceiveBuffer&) = delete;

    bool create();
    recv_data* get() const { return data_; }

    // The end of every submit: on success with an out-pointer the block
    // goes to `*ret_buf`, otherwise it is freed (the caller's `*ret_buf` is
    // then left as it was); `*ret_buf_len`, when given, gets the bytes
    // received, on failure too. The record is freed.
    void finish(int result, char** ret_buf, int* ret_buf_len);

private:
    recv_data* data_ = nullptr;
};

}  // namespace submit
}  // namespace qn

#endif  // QN_SUBMIT_RECV_DATA_H
