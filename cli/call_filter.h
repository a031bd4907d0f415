#pragma once
// The system calls a confined velmora-run may not make, as a seccomp filter
// (libseccomp) on the whole process; every command it starts and every
// library it loads inherits it:
//   - sockets: none without the network permission (UDP and Unix sockets
//     included), only IPv4 and IPv6 with it; socket pairs of Unix stream
//     and sequenced-packet sockets stay (such a pair reaches nothing
//     outside the process), datagram pairs do not (one may be sent from
//     to any Unix socket);
//   - listen: no server is run;
//   - symlink, mknod (and their *at forms): no links, FIFOs or devices;
//   - io_uring: its operations would bypass the rules above;
//   - ioctl TIOCSTI and TIOCLINUX: no keystrokes pushed into a terminal;
//   - the kernel keyrings (keyctl, add_key, request_key);
//   - resource limits, priorities (CPU and I/O), scheduling and processors
//     of other processes (prlimit64, setpriority, ioprio_set, sched_set*):
//     only the calling process's own (pid 0).
// Landlock holds files and TCP by path and port; this holds what Landlock
// does not name, and does not depend on the kernel's Landlock version.
#include <string>

namespace velmora::cli {

// Installs the filter on every thread of this process. True when in force;
// otherwise `why` says what failed.
bool restrict_calls(bool network, std::string &why);

// The same filter as a compiled BPF program in a file descriptor (a memfd
// at offset 0, not closed on exec), for bubblewrap's --seccomp; -1 and
// `why` on failure.
int call_filter_program(bool network, std::string &why);

// One line for --verbose: what the filter denies.
std::string call_filter_summary(bool network);

}  // namespace velmora::cli
