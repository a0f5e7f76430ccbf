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

constexpr int32_t kRecvDataInitialCapacity = 102400;

enum class RecvDataStatus { kOk, kNoRecord, kNoBlock };

// A zero-filled record with a zero-filled block of 102400 bytes. On failure
// returns null and says which allocation failed.
recv_data* recv_data_create(RecvDataStatus* status);

// Frees the block (unless `keep_buf`) and the record.
void recv_data_free(recv_data* data, bool keep_buf);

// libcurl write callback (CURLOPT_WRITEFUNCTION) with the record as
// CURLOPT_WRITEDATA. Returns the bytes taken, or 0 to abort the transfer.
size_t on_curl_recv_data(char* ptr, size_t size, size_t nmemb, void* stream);

#endif  // QN_SUBMIT_RECV_DATA_H
