#include "cli/landlock.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace velmora::cli {

namespace {

// The kernel's interface, spelled out here: the C library has no wrappers
// and older kernel headers lack the later access rights.
#ifndef SYS_landlock_create_ruleset
#define SYS_landlock_create_ruleset 444
#define SYS_landlock_add_rule 445
#define SYS_landlock_restrict_self 446
#endif
constexpr std::uint32_t kCreateRulesetVersion = 1u << 0;
constexpr int kRulePathBeneath = 1;

constexpr std::uint64_t kExecute = 1ull << 0, kWriteFile = 1ull << 1, kReadFile = 1ull << 2, kReadDir = 1ull << 3,
                        kRemoveDir = 1ull << 4, kRemoveFile = 1ull << 5, kMakeChar = 1ull << 6, kMakeDir = 1ull << 7,
                        kMakeReg = 1ull << 8, kMakeSock = 1ull << 9, kMakeFifo = 1ull << 10, kMakeBlock = 1ull << 11,
                        kMakeSym = 1ull << 12, kRefer = 1ull << 13, kTruncate = 1ull << 14;
constexpr std::uint64_t kNetConnectTcp = 1ull << 1;
// Rights that apply to a file (not a directory) in a rule.
constexpr std::uint64_t kFileRights = kExecute | kWriteFile | kReadFile | kTruncate;

struct RulesetAttr {
  std::uint64_t handled_access_fs = 0;
  std::uint64_t handled_access_net = 0;
  std::uint64_t scoped = 0;
};

struct __attribute__((packed)) PathBeneathAttr {
  std::uint64_t allowed_access;
  std::int32_t parent_fd;
};

// Allows `access` beneath a path (a file gets its file rights only); a
// path that does not exist is no rule.
void allow(int ruleset, const std::filesystem::path &path, std::uint64_t access) {
  int fd = ::open(path.c_str(), O_PATH | O_CLOEXEC);
  if (fd < 0) return;
  struct stat st {};
  if (::fstat(fd, &st) == 0) {
    PathBeneathAttr rule{S_ISDIR(st.st_mode) ? access : access & kFileRights, fd};
    if (rule.allowed_access) (void)::syscall(SYS_landlock_add_rule, ruleset, kRulePathBeneath, &rule, 0);
  }
  ::close(fd);
}

}  // namespace

int landlock_abi() {
  long abi = ::syscall(SYS_landlock_create_ruleset, nullptr, 0, kCreateRulesetVersion);
  return abi < 0 ? 0 : int(abi);
}

std::vector<std::string> restrict_process(const Confinement &c, std::string &missing) {
  std::vector<std::string> inForce;
  if (c.writeOutside && c.readOutside && c.network) return inForce;
  const int abi = landlock_abi();
  if (abi < 1) {
    missing = errno == EOPNOTSUPP ? "Landlock is disabled in this kernel"
                                  : "this kernel has no Landlock (Linux 5.13 or later)";
    return inForce;
  }
  std::uint64_t write = kWriteFile | kRemoveDir | kRemoveFile | kMakeChar | kMakeDir | kMakeReg | kMakeSock |
                        kMakeFifo | kMakeBlock | kMakeSym;
  if (abi >= 2) write |= kRefer;
  if (abi >= 3) write |= kTruncate;
  const std::uint64_t read = kReadFile | kReadDir;
  RulesetAttr attr;
  attr.handled_access_fs = (c.writeOutside ? 0 : write) | (c.readOutside ? 0 : read);
  const bool netRule = !c.network && abi >= 4;
  if (netRule) attr.handled_access_net = kNetConnectTcp;
  if (!attr.handled_access_fs && !netRule) {
    missing = "this kernel's Landlock (ABI " + std::to_string(abi) + ") cannot deny the network (ABI 4 and later)";
    return inForce;
  }
  const std::size_t size = abi >= 6 ? sizeof attr : abi >= 4 ? 2 * sizeof(std::uint64_t) : sizeof(std::uint64_t);
  int ruleset = int(::syscall(SYS_landlock_create_ruleset, &attr, size, 0));
  if (ruleset < 0) {
    missing = std::string("Landlock refused the ruleset: ") + std::strerror(errno);
    return inForce;
  }
  if (attr.handled_access_fs) {
    // The data directory: everything. /dev/null: what any program may do.
    allow(ruleset, c.data, attr.handled_access_fs);
    allow(ruleset, "/dev/null", (kReadFile | kWriteFile | kTruncate) & attr.handled_access_fs);
    if (!c.readOutside) {
      // What the runtime itself reads: libraries, fonts and their caches,
      // certificates, time zones, name resolution, /proc and devices.
      for (const char *p : {"/usr",
                            "/lib",
                            "/lib32",
                            "/lib64",
                            "/bin",
                            "/sbin",
                            "/etc/fonts",
                            "/etc/ssl",
                            "/etc/ca-certificates",
                            "/etc/pki",
                            "/etc/localtime",
                            "/etc/hosts",
                            "/etc/resolv.conf",
                            "/etc/nsswitch.conf",
                            "/etc/gai.conf",
                            "/etc/host.conf",
                            "/etc/ld.so.cache",
                            "/var/cache/fontconfig",
                            "/proc",
                            "/dev",
                            "/sys/devices/system/cpu"})
        allow(ruleset, p, read);
      for (const std::filesystem::path &p : c.runtimeReads) allow(ruleset, p, read);
      if (const char *h = std::getenv("HOME"); h && *h) {
        std::filesystem::path home(h);
        for (const char *p : {".cache/fontconfig", ".fonts", ".local/share/fonts", ".fontconfig"})
          allow(ruleset, home / p, read);
      }
    }
  }
  bool ok = ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 && ::syscall(SYS_landlock_restrict_self, ruleset, 0) == 0;
  int error = errno;
  ::close(ruleset);
  if (!ok) {
    missing = std::string("Landlock could not restrict the process: ") + std::strerror(error);
    return inForce;
  }
  const std::string prefix = "Landlock (ABI " + std::to_string(abi) + "): ";
  if (!c.writeOutside) inForce.push_back(prefix + "writing only beneath " + c.data.string());
  if (!c.readOutside)
    inForce.push_back(prefix + "reading only beneath " + c.data.string() + " and the system's own files");
  if (netRule) inForce.push_back(prefix + "no TCP connections");
  else if (!c.network)
    missing = "this kernel's Landlock (ABI " + std::to_string(abi) + ") cannot deny the network (ABI 4 and later)";
  return inForce;
}

}  // namespace velmora::cli
