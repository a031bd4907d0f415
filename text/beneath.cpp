#include "text/beneath.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <array>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <random>

#if defined(__linux__) && !defined(__EMSCRIPTEN__)
#include <linux/openat2.h>
#include <sys/random.h>
#endif

namespace velmora::text {

namespace {

#if defined(SYS_openat2) && defined(RESOLVE_BENEATH)
// openat2 as a system call: the C library may not wrap it.
int openat2_beneath(int dirfd, const std::string &relative, int flags, mode_t mode) {
  struct open_how how {};
  how.flags = std::uint64_t(flags | O_CLOEXEC);
  how.mode = (flags & (O_CREAT | O_TMPFILE)) ? mode : 0;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS;
  for (;;) {
    long fd = ::syscall(SYS_openat2, dirfd, relative.empty() ? "." : relative.c_str(), &how, sizeof how);
    if (fd < 0 && (errno == EINTR || errno == EAGAIN)) continue;  // EAGAIN: a rename raced the lookup
    return int(fd);
  }
}
constexpr bool kHaveOpenat2 = true;
#else
int openat2_beneath(int, const std::string &, int, mode_t) {
  errno = ENOSYS;
  return -1;
}
constexpr bool kHaveOpenat2 = false;
#endif

// Without openat2: one component at a time, never following a link, never
// going up. Absolute names are refused too.
}  // namespace

int open_beneath_walking(int dirfd, const std::string &relative, int flags, mode_t mode) {
  if (!relative.empty() && relative[0] == '/') {
    errno = EXDEV;
    return -1;
  }
  int current = ::fcntl(dirfd, F_DUPFD_CLOEXEC, 0);
  if (current < 0) return -1;
  std::size_t start = 0;
  for (;;) {
    std::size_t slash = relative.find('/', start);
    bool last = slash == std::string::npos;
    std::string part = relative.substr(start, last ? std::string::npos : slash - start);
    if (part == "..") {
      ::close(current);
      errno = EXDEV;
      return -1;
    }
    if (last) {
      if (part.empty() || part == ".") part = ".";
      int fd = ::openat(current, part.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, mode);
      int saved = errno;
      ::close(current);
      errno = saved;
      return fd;
    }
    if (!part.empty() && part != ".") {
      int next = ::openat(current, part.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      int saved = errno;
      ::close(current);
      if (next < 0) {
        errno = saved == ENOTDIR ? ELOOP : saved;  // a link where a directory should be
        return -1;
      }
      current = next;
    }
    start = slash + 1;
  }
}

namespace {

int probe_openat2() {
  int fd = openat2_beneath(AT_FDCWD, ".", O_PATH | O_DIRECTORY, 0);
  if (fd >= 0) ::close(fd);
  return fd >= 0 || errno != ENOSYS;
}

}  // namespace

bool representable_file_name(u16view name) {
  for (std::size_t i = 0; i < name.size(); ++i) {
    char16_t c = name[i];
    if (c == 0) return false;
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 >= name.size() || name[i + 1] < 0xDC00 || name[i + 1] > 0xDFFF) return false;
      ++i;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return false;
    }
  }
  return true;
}

u16 escaped_file_name(u16view name) {
  u16 out;
  for (std::size_t i = 0; i < name.size(); ++i) {
    char16_t c = name[i];
    bool pair = c >= 0xD800 && c <= 0xDBFF && i + 1 < name.size() && name[i + 1] >= 0xDC00 && name[i + 1] <= 0xDFFF;
    char buffer[8];
    if (c < 0x20 || c == 0x7F) {
      std::snprintf(buffer, sizeof buffer, "\\x%02X", unsigned(c));
    } else if (c >= 0xD800 && c <= 0xDFFF && !pair) {
      std::snprintf(buffer, sizeof buffer, "\\u%04X", unsigned(c));
    } else {
      out += c;
      if (pair) out += name[++i];
      continue;
    }
    for (const char *b = buffer; *b; ++b) out += char16_t(*b);
  }
  return out;
}

bool kernel_resolves_beneath() {
  static const bool available = kHaveOpenat2 && probe_openat2();
  return available;
}

int open_beneath(int dirfd, const std::string &relative, int flags, mode_t mode) {
  if (kernel_resolves_beneath()) return openat2_beneath(dirfd, relative, flags, mode);
  return open_beneath_walking(dirfd, relative, flags, mode);
}

int open_parent_beneath(int dirfd, const std::string &relative, std::string &leaf) {
  std::string rel = relative;
  while (rel.size() > 1 && rel.back() == '/') rel.pop_back();
  std::size_t slash = rel.rfind('/');
  leaf = slash == std::string::npos ? rel : rel.substr(slash + 1);
  std::string parent = slash == std::string::npos ? std::string(".")
                       : slash == 0               ? std::string("/")
                                                  : rel.substr(0, slash);
  if (leaf == "." || leaf == "..") {
    // The directory itself, or its parent: not a file to create.
    errno = leaf == ".." ? EXDEV : EISDIR;
    return -1;
  }
  return open_beneath(dirfd, parent, O_PATH | O_DIRECTORY);
}

std::string descriptor_path(int fd) {
  char link[64];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  std::string buffer(4096, '\0');
  ssize_t n = ::readlink(link, buffer.data(), buffer.size());
  if (n <= 0 || std::size_t(n) >= buffer.size()) return {};
  buffer.resize(std::size_t(n));
  return buffer;
}

int open_regular_for_writing(int dirfd, const std::string &name, bool append, bool refuseLinked, bool beneath) {
  const int flags = O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC;
  int fd = beneath ? open_beneath(dirfd, name, flags, 0666) : ::openat(dirfd, name.c_str(), flags, 0666);
  if (fd < 0) return -1;
  struct stat st {};
  int error = 0;
  if (::fstat(fd, &st) != 0) error = errno;
  else if (!S_ISREG(st.st_mode) && (beneath || !S_ISCHR(st.st_mode))) error = EINVAL;
  else if (refuseLinked && st.st_nlink > 1) error = EMLINK;
  else if (!append && S_ISREG(st.st_mode) && ::ftruncate(fd, 0) != 0) error = errno;
  else if (::fcntl(fd, F_SETFL, append ? O_APPEND : 0) != 0) error = errno;
  if (error) {
    ::close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

std::string unpredictable_name(const std::string &leaf) {
  static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  unsigned char random[12];
  bool filled = false;
#if defined(__linux__) && !defined(__EMSCRIPTEN__)
  filled = ::getrandom(random, sizeof random, GRND_NONBLOCK) == ssize_t(sizeof random);
#endif
  if (!filled) {
    std::random_device device;
    for (unsigned char &c : random) c = static_cast<unsigned char>(device());
  }
  std::string name = "." + leaf.substr(0, 200) + ".";
  for (unsigned char c : random) name += letters[c % (sizeof letters - 1)];
  return name + ".velmora-tmp";
}

namespace {
bool write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return false;
    }
    bytes.remove_prefix(std::size_t(n));
  }
  return true;
}
}  // namespace

namespace {

// The temporary files in the making, each as its directory handle and name,
// for remove_temporaries. A slot's handle is -1 when free, -2 while its
// name is written.
struct Temporary {
  std::atomic<int> dirfd{-1};
  char name[256] = {};
};
std::array<Temporary, 16> g_temporaries;

int register_temporary(int dirfd, const std::string &name) {
  if (name.size() >= sizeof g_temporaries[0].name) return -1;
  for (std::size_t i = 0; i < g_temporaries.size(); ++i) {
    int expected = -1;
    if (!g_temporaries[i].dirfd.compare_exchange_strong(expected, -2)) continue;
    std::memcpy(g_temporaries[i].name, name.c_str(), name.size() + 1);
    g_temporaries[i].dirfd = dirfd;
    return int(i);
  }
  return -1;
}

void forget_temporary(int slot) {
  if (slot >= 0) g_temporaries[std::size_t(slot)].dirfd = -1;
}

}  // namespace

void remove_temporaries() {
  for (Temporary &t : g_temporaries) {
    const int dirfd = t.dirfd.load();
    if (dirfd >= 0 || dirfd == AT_FDCWD) ::unlinkat(dirfd, t.name, 0);
  }
}

bool replace_file_at(int dirfd, const std::string &leaf, std::string_view bytes, bool refuseLinked) {
  if (leaf.empty() || leaf.find('/') != std::string::npos) {
    errno = EINVAL;
    return false;
  }
  struct stat old {};
  bool exists = ::fstatat(dirfd, leaf.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0;
  if (!exists && errno != ENOENT) return false;
  if (exists && (!S_ISREG(old.st_mode) || (refuseLinked && old.st_nlink > 1))) {
    errno = S_ISREG(old.st_mode) ? EMLINK : EINVAL;
    return false;
  }
  const mode_t mode = exists ? (old.st_mode & 07777) : 0666;
  std::string tmp;
  int fd = -1;
  for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
    tmp = unpredictable_name(leaf);
    // O_EXCL: a name that exists (a link planted there) is never opened.
    fd = ::openat(dirfd, tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, exists ? 0600 : mode);
    if (fd < 0 && errno != EEXIST) return false;
  }
  if (fd < 0) return false;
  const int registered = register_temporary(dirfd, tmp);
  // The replacement keeps the old file's permissions (and, where the
  // process may, its owner): a private file stays private.
  bool ok = !exists || ::fchmod(fd, mode) == 0;
  if (ok && exists && (old.st_uid != ::geteuid() || old.st_gid != ::getegid()))
    (void)!::fchown(fd, old.st_uid, old.st_gid);
  // On the disk before it replaces the old content, so that a crash leaves
  // either the old file or the whole new one.
  ok = ok && write_all(fd, bytes) && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  if (ok && ::renameat(dirfd, tmp.c_str(), dirfd, leaf.c_str()) == 0) {
    forget_temporary(registered);
    return true;
  }
  int saved = errno;
  ::unlinkat(dirfd, tmp.c_str(), 0);
  forget_temporary(registered);
  errno = saved;
  return false;
}

}  // namespace velmora::text
