// One libcurl share for the whole process, through which every transfer
// reuses the connections, DNS answers and TLS sessions that earlier
// transfers left behind: a call to a server that was talked to a moment ago
// skips the TCP and TLS handshakes. Each transfer still owns its easy
// handle, header list and buffers; cookies are never shared (each call's
// cookie engine stays its own).
//
// The share is made at the first transfer and released when the library is
// unloaded (or the process ends), once every transfer attached to it has
// ended; quillnet_cleanup closes the connections it keeps. Without it (QUILLNET_SHARE_CONNECTIONS=0, an engine without the
// share interface, or a share libcurl could not make) transfers run as
// they would alone: a connection each, closed with its handle.
#ifndef QN_CURL_SHARE_H
#define QN_CURL_SHARE_H

#include <curl/curl.h>

namespace qn {
namespace curl {

// Attaches the share to `easy` when there is one to attach; true when it
// did. Every true is to be answered by release_share() once the handle has
// been cleaned up.
bool attach_share(CURL* easy);

// Idle connections a transfer lets the shared cache keep (libcurl's
// default is 5): with the cache shared, that is the process's limit, and a
// host with more threads at once would otherwise close and reopen
// connections all the time. A multi handle that drives a transfer applies
// its own limit instead, so qn::curl::perform sets it there too.
constexpr long kKeptConnections = 32;

// One handle that attach_share() attached has been cleaned up.
void release_share();

// Closes the connections the share keeps, for quillnet_cleanup: libcurl's
// global clean-up follows, after which they could not be used safely (on
// Windows their sockets die with the socket library's clean-up). The next
// transfer starts a new set. Does nothing while a transfer uses the share;
// the host calls the clean-up after its last request.
void close_shared_connections();

}  // namespace curl
}  // namespace qn

#endif  // QN_CURL_SHARE_H
