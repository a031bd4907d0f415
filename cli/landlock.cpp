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
#include <algorithm>

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
constexpr std::uint64_t kNetBindTcp = 1ull << 0, kNetConnectTcp = 1ull << 1;
constexpr std::uint64_t kScopeAbstractUnixSocket = 1ull << 0, kScopeSignal = 1ull << 1;
// Rights that apply to a file (not a directory) in a rule.
constexpr std::uint64_t kFileRights = kExecute | kWriteFile | kReadFile | kTruncate;
// What a confined run may not make even in the data directory: a link
// planted there outlives the run, and the next ordinary run would write
// through it; FIFOs, sockets and devices are no data either.
constexpr std::uint64_t kSpecialFiles = kMakeSym | kMakeFifo | kMakeSock | kMakeChar | kMakeBlock;

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

std::string abi_text(int abi) { return "this kernel's Landlock (ABI " + std::to_string(abi) + ")"; }

}  // namespace

int landlock_abi() {
  long abi = ::syscall(SYS_landlock_create_ruleset, nullptr, 0, kCreateRulesetVersion);
  return abi < 0 ? 0 : int(abi);
}

const std::vector<std::string> &system_read_paths() {
  static const std::vector<std::string> paths = {"/usr",
                                                 "/lib",
                                                 "/lib32",
                                                 "/lib64",
                                                 "/bin",
                                                 "/sbin",
                                                 "/etc/alternatives",
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
                                                 "/sys/devices/system/cpu"};
  return paths;
}

std::vector<std::string> own_devices() {
  std::vector<std::string> devices = {"/dev/null", "/dev/zero", "/dev/random", "/dev/urandom", "/dev/tty"};
  for (int fd : {0, 1, 2}) {
    char name[256];
    if (::isatty(fd) && ::ttyname_r(fd, name, sizeof name) == 0 &&
        std::find(devices.begin(), devices.end(), name) == devices.end())
      devices.emplace_back(name);
  }
  return devices;
}

std::vector<std::string> restrict_process(const Confinement &c, std::vector<std::string> &missing) {
  std::vector<std::string> inForce;
  if (!c.any()) return inForce;
  const int abi = landlock_abi();
  if (abi < 1) {
    missing.push_back(errno == EOPNOTSUPP ? "Landlock is disabled in this kernel"
                                          : "this kernel has no Landlock (Linux 5.13 or later)");
    return inForce;
  }
  std::uint64_t write = kWriteFile | kRemoveDir | kRemoveFile | kMakeChar | kMakeDir | kMakeReg | kMakeSock |
                        kMakeFifo | kMakeBlock | kMakeSym;
  if (abi >= 2) write |= kRefer;
  if (abi >= 3) write |= kTruncate;
  const std::uint64_t read = kReadFile | kReadDir;
  RulesetAttr attr;
  attr.handled_access_fs = (c.writeOutside ? 0 : write) | (c.readOutside ? 0 : read);
  if (abi >= 4) attr.handled_access_net = kNetBindTcp | (c.network ? 0 : kNetConnectTcp);
  if (abi >= 6) attr.scoped = kScopeAbstractUnixSocket | kScopeSignal;
  const std::size_t size = abi >= 6 ? sizeof attr : abi >= 4 ? 2 * sizeof(std::uint64_t) : sizeof(std::uint64_t);
  if (!attr.handled_access_fs && !attr.handled_access_net) {
    missing.push_back(abi_text(abi) + " cannot deny the network (ABI 4 and later)");
    return inForce;
  }
  int ruleset = int(::syscall(SYS_landlock_create_ruleset, &attr, size, 0));
  if (ruleset < 0) {
    missing.push_back(std::string("Landlock refused the ruleset: ") + std::strerror(errno));
    return inForce;
  }
  if (attr.handled_access_fs) {
    // The data directory: everything but special files. The devices a
    // program needs: reading and writing.
    allow(ruleset, c.data, attr.handled_access_fs & ~kSpecialFiles);
    for (const std::string &device : own_devices())
      allow(ruleset, device, (kReadFile | kWriteFile | kTruncate) & attr.handled_access_fs);
    if (!c.readOutside) {
      for (const std::string &p : system_read_paths()) allow(ruleset, p, read);
      for (const std::filesystem::path &p : c.runtimeFiles) allow(ruleset, p, kReadFile);
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
    missing.push_back(std::string("Landlock could not restrict the process: ") + std::strerror(error));
    return inForce;
  }
  const std::string prefix = "Landlock (ABI " + std::to_string(abi) + "): ";
  if (!c.writeOutside)
    inForce.push_back(prefix + "writing only beneath " + c.data.string() +
                      ", no links, FIFOs, sockets or devices made there");
  if (!c.readOutside)
    inForce.push_back(prefix + "reading only beneath " + c.data.string() +
                      ", the system's own files and /dev/null, zero, random, urandom and the terminal");
  if (attr.handled_access_net) {
    inForce.push_back(prefix + "no TCP port listened on");
    if (!c.network) inForce.push_back(prefix + "no TCP connections");
  } else {
    missing.push_back(abi_text(abi) + " cannot deny TCP connections and listening (ABI 4 and later)");
  }
  if (attr.scoped) inForce.push_back(prefix + "no signals and no abstract Unix sockets beyond the run's own processes");
  else
    missing.push_back(abi_text(abi) +
                      " cannot keep signals and abstract Unix sockets to the run's own processes (ABI 6 and later)");
  return inForce;
}

int nested_layer_ruleset() {
  const int abi = landlock_abi();
  if (abi < 1) return -1;
  RulesetAttr attr;
  std::size_t size = sizeof(std::uint64_t);
  if (abi >= 6) {
    attr.scoped = kScopeAbstractUnixSocket | kScopeSignal;
    size = sizeof attr;
  } else {
    // A right that every path keeps: the layer restricts nothing of the
    // files, it only nests the domain.
    attr.handled_access_fs = kExecute;
  }
  int ruleset = int(::syscall(SYS_landlock_create_ruleset, &attr, size, 0));
  if (ruleset < 0) return -1;
  if (attr.handled_access_fs) allow(ruleset, "/", kExecute);
  return ruleset;
}

bool restrict_layer(int ruleset) {
  return ruleset >= 0 && ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
         ::syscall(SYS_landlock_restrict_self, ruleset, 0) == 0;
}

}  // namespace velmora::cli
