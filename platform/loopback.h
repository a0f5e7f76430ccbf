// Servers on 127.0.0.1 that the tests and the host program's demo start:
// a port free for one, whether one listens, and pyftpdlib run as a child
// process. POSIX only; under Windows the FTP servers come from outside.
#ifndef QN_PLATFORM_LOOPBACK_H
#define QN_PLATFORM_LOOPBACK_H

#if !defined(_WIN32)

#include <sys/types.h>

#include <string>

namespace qn {
namespace platform {

// A TCP port of 127.0.0.1 that nothing is bound to right now; 0 when the
// system gives none. Another process may take it before it is used.
int free_loopback_port();

// Whether something accepts connections on `port` of 127.0.0.1.
bool loopback_listening(int port);

// Runs the distribution's pyftpdlib serving `root` on 127.0.0.1:`port`,
// to anonymous users or, when `user` is not empty, only to `user` with
// `password`; its output goes nowhere. Waits up to `wait_seconds` until it
// accepts connections. Returns its process id, or -1 with `*problem` saying
// why (the child, if any, is gone then).
pid_t start_ftp_server(const std::string& root, int port, const std::string& user, const std::string& password,
                       int wait_seconds, std::string* problem);

// Ends a child started above and waits for it; nothing for a pid below 1.
void stop_child(pid_t pid);

}  // namespace platform
}  // namespace qn

#endif

#endif  // QN_PLATFORM_LOOPBACK_H
