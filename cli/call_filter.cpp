#include "cli/call_filter.h"

#include <seccomp.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <initializer_list>
#include <memory>

namespace velmora::cli {

namespace {

struct FilterDeleter {
  void operator()(void *ctx) const { seccomp_release(ctx); }
};
using Filter = std::unique_ptr<void, FilterDeleter>;

// The filter, or null with `why`. Every rule denies with an error the
// program sees (as if the call were not permitted), never by killing it.
Filter make_filter(bool network, std::string &why) {
  Filter f(seccomp_init(SCMP_ACT_ALLOW));
  if (!f) {
    why = "libseccomp could not make a filter";
    return nullptr;
  }
  int rc = 0;
  // A rule matches when every comparison holds (none: always).
  auto deny = [&](int error, int call, std::initializer_list<scmp_arg_cmp> when = {}) {
    if (rc != 0) return;
    rc = seccomp_rule_add_array(f.get(), SCMP_ACT_ERRNO(error), call, unsigned(when.size()),
                                when.size() ? when.begin() : nullptr);
  };
  // Calls of another architecture (32-bit calls through int 0x80, x32)
  // would bypass every rule: they end the process.
  rc = seccomp_attr_set(f.get(), SCMP_FLTATR_ACT_BADARCH, SCMP_ACT_KILL_PROCESS);
  if (network) {
    // Only AF_INET (2) and AF_INET6 (10). The domain is compared as the
    // whole 64-bit register: a value with high bits set is above 10.
    deny(EACCES, SCMP_SYS(socket), {SCMP_A0(SCMP_CMP_LT, AF_INET)});
    deny(EACCES, SCMP_SYS(socket), {SCMP_A0(SCMP_CMP_GT, AF_INET6)});
    for (int domain = AF_INET + 1; domain < AF_INET6; ++domain)
      deny(EACCES, SCMP_SYS(socket), {SCMP_A0(SCMP_CMP_EQ, scmp_datum_t(domain))});
  } else {
    deny(EACCES, SCMP_SYS(socket));
  }
  // A socket pair reaches only its other end, unless it is of datagrams:
  // one of those may still be pointed at any Unix socket (sendto, connect),
  // by path or by abstract name. Pairs of Unix stream and sequenced-packet
  // sockets only (the kernel takes the type's low four bits; a "raw" Unix
  // socket is a datagram one).
  deny(EACCES, SCMP_SYS(socketpair), {SCMP_A0(SCMP_CMP_NE, AF_UNIX)});
  for (scmp_datum_t type = 0; type < 16; ++type)
    if (type != SOCK_STREAM && type != SOCK_SEQPACKET)
      deny(EACCES, SCMP_SYS(socketpair), {SCMP_A1(SCMP_CMP_MASKED_EQ, 0xF, type)});
  deny(EACCES, SCMP_SYS(listen));
  for (int call : {SCMP_SYS(symlink), SCMP_SYS(symlinkat), SCMP_SYS(mknod), SCMP_SYS(mknodat)}) deny(EPERM, call);
  for (int call : {SCMP_SYS(io_uring_setup), SCMP_SYS(io_uring_enter), SCMP_SYS(io_uring_register)}) deny(ENOSYS, call);
  for (unsigned long request : {TIOCSTI, TIOCLINUX})
    deny(EPERM, SCMP_SYS(ioctl), {SCMP_A1(SCMP_CMP_MASKED_EQ, 0xFFFFFFFFu, request)});
  // Other processes are reached by more than signals: a file size limit of
  // one byte ends a process at its next write (SIGXFSZ), no open files or
  // no memory break it, a lower priority or one processor starves it.
  // Neither Landlock nor a process's permissions keep these to the run's
  // own processes: each process may change only itself (pid 0; a thread
  // naming itself by number is refused too). Reading limits stays.
  deny(EPERM, SCMP_SYS(prlimit64), {SCMP_A0(SCMP_CMP_NE, 0), SCMP_A2(SCMP_CMP_NE, 0)});
  deny(EPERM, SCMP_SYS(setpriority), {SCMP_A0(SCMP_CMP_NE, PRIO_PROCESS)});
  deny(EPERM, SCMP_SYS(setpriority), {SCMP_A1(SCMP_CMP_NE, 0)});
  for (int call :
       {SCMP_SYS(sched_setaffinity), SCMP_SYS(sched_setscheduler), SCMP_SYS(sched_setparam), SCMP_SYS(sched_setattr)})
    deny(EPERM, call, {SCMP_A0(SCMP_CMP_NE, 0)});
  // ioprio_set(IOPRIO_WHO_PROCESS = 1, 0, ...) only.
  deny(EPERM, SCMP_SYS(ioprio_set), {SCMP_A0(SCMP_CMP_NE, 1)});
  deny(EPERM, SCMP_SYS(ioprio_set), {SCMP_A1(SCMP_CMP_NE, 0)});
  for (int call : {SCMP_SYS(keyctl), SCMP_SYS(add_key), SCMP_SYS(request_key)}) deny(ENOSYS, call);
  if (rc != 0) {
    why = std::string("libseccomp could not add a rule: ") + std::strerror(-rc);
    return nullptr;
  }
  return f;
}

}  // namespace

bool restrict_calls(bool network, std::string &why) {
  Filter f = make_filter(network, why);
  if (!f) return false;
  // Every thread, those started before too (a watchdog, a transfer).
  int rc = seccomp_attr_set(f.get(), SCMP_FLTATR_CTL_TSYNC, 1);
  if (rc == 0) rc = seccomp_load(f.get());
  if (rc != 0) {
    why = std::string("the seccomp filter could not be loaded: ") + std::strerror(-rc);
    return false;
  }
  return true;
}

int call_filter_program(bool network, std::string &why) {
  Filter f = make_filter(network, why);
  if (!f) return -1;
  int fd = ::memfd_create("velmora-call-filter", 0);
  if (fd < 0) {
    why = std::string("no memory file for the seccomp filter: ") + std::strerror(errno);
    return -1;
  }
  int rc = seccomp_export_bpf(f.get(), fd);
  if (rc != 0 || ::lseek(fd, 0, SEEK_SET) != 0) {
    why = std::string("the seccomp filter could not be written: ") + std::strerror(rc ? -rc : errno);
    ::close(fd);
    return -1;
  }
  return fd;
}

std::string call_filter_summary(bool network) {
  return std::string("seccomp: ") + (network ? "sockets of IPv4 and IPv6 only (no Unix sockets)" : "no sockets") +
         ", no datagram socket pairs, no listening, no symbolic links, FIFOs or devices made, no io_uring, no "
         "keystrokes pushed into a terminal, no kernel keyrings, no limits, priorities or processors of other "
         "processes changed";
}

}  // namespace velmora::cli
