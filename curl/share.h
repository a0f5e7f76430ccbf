// One libcurl share for the whole process, through which every transfer
// reuses the DNS answers and TLS sessions that earlier transfers left
// behind: a TLS connection to a server that was talked to before resumes
// its session instead of making a full handshake. Each transfer still owns
// its easy handle, header list and buffers; cookies are never shared (each
// call's cookie engine stays its own).
//
// Connections are not in the share. libcurl holds the share's connection
// lock while it picks a kept connection, and picking one means asking the
// system whether each candidate is still alive (a poll per candidate): with
// many threads calling at once they queued on that one lock, and 16 threads
// made 7 futex calls a request and ran at a third of the rate of libcurl
// alone. Kept connections live instead in the multi handle that ran the
// transfer (qn::curl::perform keeps those handles for the next call, one
// thread at a time on each) or in the asynchronous task's own multi handle,
// as they do for a libcurl program that reuses one handle per thread.
//
// The share is made at the first transfer and released when the library is
// unloaded (or the process ends), once every transfer attached to it has
// ended; quillnet_cleanup starts a fresh one. Without it
// (QUILLNET_SHARE_CONNECTIONS=0, an engine without the share interface, or
// a share libcurl could not make) transfers run as they would alone: a
// connection each, closed with its handle.
#ifndef QN_CURL_SHARE_H
#define QN_CURL_SHARE_H

#include <curl/curl.h>

namespace qn {
namespace curl {

// Attaches the share to `easy` when there is one to attach; true when it
// did. Every true is to be answered by release_share() once the handle has
// been cleaned up.
bool attach_share(CURL* easy);

// Idle connections each kept multi handle (qn::curl::perform) lets its
// cache keep, and so a handle driven alone: one thread's calls go to a few
// servers, and up to 64 handles are kept (libcurl's default is 5).
constexpr long kKeptConnections = 8;

// One handle that attach_share() attached has been cleaned up.
void release_share();

// For quillnet_cleanup: replaces the share with a fresh one, whose DNS and
// TLS session caches start empty; libcurl's global clean-up follows, after
// which sessions of the old one could not be used safely. Does nothing
// while a transfer uses the share; the host calls the clean-up after its
// last request.
void renew_share();

}  // namespace curl
}  // namespace qn

#endif  // QN_CURL_SHARE_H
