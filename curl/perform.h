// Running one prepared easy handle to its end.
//
// curl_easy_perform makes a private multi handle for every new easy handle
// (a socket pair to wake it, a handle for closing connections, hash tables)
// and destroys it with the easy handle: on a connection kept from an earlier
// call, that costs more than the request itself. Every call of the library
// owns a fresh easy handle, so the transfer is driven instead through a multi
// handle kept for the next call: the same transfer, step by step as
// curl_easy_perform takes it, without that cost.
#ifndef QN_CURL_PERFORM_H
#define QN_CURL_PERFORM_H

#include <curl/curl.h>

namespace qn {
namespace curl {

// Transfers `easy` on the calling thread and returns its result, as
// curl_easy_perform does (which it falls back on when no multi handle can be
// had). The handle must not belong to a multi handle of its own.
CURLcode perform(CURL* easy);

// Frees the multi handles kept for later calls (quillnet_cleanup, unload).
void release_kept_multis();

}  // namespace curl
}  // namespace qn

#endif  // QN_CURL_PERFORM_H
