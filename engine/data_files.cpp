// Files as a run may reach them. A run that may write (or read) anywhere
// opens paths as they are; a run that may not opens them beneath the data
// directory, which is opened once per run: the kernel resolves the name
// below that directory, so a link, "..", an absolute name or a rename
// racing the open cannot lead outside. A name that leads outside is an
// access outside the data directory, for the permission to decide.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "engine/machine.h"
#include "text/beneath.h"
#include "text/lines.h"

namespace velmora::engine {

namespace {

namespace fs = std::filesystem;

// Where a file is opened: beneath the data directory (base is its handle,
// name relative), or anywhere (base AT_FDCWD, name the path).
struct Spot {
  int base = AT_FDCWD;
  std::string name;
  bool beneath = false;
};

// Errors of an open beneath that mean the name leads outside (or, for a
// second hard link, may lead outside). A confined run follows no symbolic
// link at all, wherever it points (ELOOP): one rule for every instruction.
bool escaped(int error) { return error == EXDEV || error == ELOOP || error == EMLINK; }

// The target a refusal names: the path, and the link when a link is why.
u16 refused_target(const fs::path &path, int error) {
  u16 target = text::from_utf8(path.string());
  if (error == ELOOP) target += u"（リンク）";
  if (error == EMLINK) target += u"（ハードリンク）";
  return target;
}

bool inside(const fs::path &path, const fs::path &dir) {
  if (dir.empty()) return false;
  fs::path r = path.lexically_relative(dir);
  return !r.empty() && *r.begin() != "..";
}

// The name relative to the data directory when the path, taken literally,
// lies inside it; "" otherwise.
std::string relative_to(const fs::path &path, const fs::path &data, const fs::path &dataReal) {
  std::error_code ec;
  fs::path p = fs::absolute(path, ec).lexically_normal();
  for (const fs::path &base : {fs::absolute(data, ec).lexically_normal(), dataReal}) {
    if (!inside(p, base)) continue;
    std::string r = p.lexically_relative(base).string();
    return r.empty() ? std::string(".") : r;
  }
  return {};
}

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd &) = delete;
  Fd &operator=(const Fd &) = delete;
  int get() const { return fd_; }
  int release() {
    int f = fd_;
    fd_ = -1;
    return f;
  }

 private:
  int fd_;
};

}  // namespace

void Machine::openDataDirectory() {
  closeDataDirectory();
  if (dataDirectory.empty()) return;
  dataFd = ::open(dataDirectory.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
}

void Machine::closeDataDirectory() {
  if (dataFd >= 0) ::close(dataFd);
  dataFd = -1;
}

namespace {

// The spot of a path for this run; nullopt after the permission refused it.
std::optional<Spot> spot_of(Machine &e, const fs::path &path, bool write, u16view instruction) {
  bool confined = write ? e.writeConfined() : e.readConfined();
  if (!confined) return Spot{AT_FDCWD, path.string(), false};
  if (e.dataFd >= 0) {
    std::string rel = relative_to(path, e.dataDirectory, text::descriptor_path(e.dataFd));
    if (!rel.empty()) return Spot{e.dataFd, rel, true};
  }
  if (!e.permitted(write ? Permission::Files : Permission::FilesRead, instruction, text::from_utf8(path.string())))
    return std::nullopt;
  return Spot{AT_FDCWD, path.string(), false};
}

// A beneath open failed with `error`: when the name led outside, the
// access is one outside the data directory (asked about or refused), and
// true means go on with the path as it is.
bool outside_after_escape(Machine &e, Spot &spot, const fs::path &path, bool write, u16view instruction, int error) {
  if (!spot.beneath || !escaped(error)) return false;
  if (!e.permitted(write ? Permission::Files : Permission::FilesRead, instruction, refused_target(path, error)))
    return false;
  spot = Spot{AT_FDCWD, path.string(), false};
  return true;
}

// The program's own directory while writing (or reading) outside is not
// allowed: the files directly in it (settings, tables, lists), its PROG
// and recovery copies. A directory handle that lies there is refused.
bool own_directory(const Machine &e, int dirfd) {
  std::string real = text::descriptor_path(dirfd);
  if (real.empty()) return true;
  fs::path dir(real);
  std::error_code ec;
  if (!e.homeDirectory.empty()) {
    fs::path home = fs::weakly_canonical(fs::absolute(e.homeDirectory, ec), ec);
    if (dir == home || inside(dir, home / "PROG") || dir == home / "PROG" || dir == home / "Recovery" ||
        inside(dir, home / "Recovery"))
      return true;
  }
  if (!e.programDirectory.empty()) {
    fs::path prog = fs::weakly_canonical(fs::absolute(e.programDirectory, ec), ec);
    if (dir == prog || inside(dir, prog)) return true;
  }
  return false;
}

// The directory that holds a beneath spot and the leaf name, refusing the
// program's own directory as outside (EXDEV).
int parent_of(const Machine &e, const Spot &spot, std::string &leaf) {
  Fd dir(text::open_parent_beneath(spot.base, spot.name, leaf));
  if (dir.get() < 0) return -1;
  if (own_directory(e, dir.get())) {
    errno = EXDEV;
    return -1;
  }
  return dir.release();
}

}  // namespace

int Machine::openForWriting(const fs::path &path, bool append, u16view instruction) {
  auto spot = spot_of(*this, path, true, instruction);
  if (!spot) return -1;
  for (;;) {
    if (!spot->beneath) return text::open_regular_for_writing(AT_FDCWD, spot->name, append, false, false);
    std::string leaf;
    int fd = -1;
    if (Fd dir(parent_of(*this, *spot, leaf)); dir.get() >= 0)
      fd = text::open_regular_for_writing(dir.get(), leaf, append, true, true);
    if (fd >= 0) return fd;
    int error = errno;
    if (!outside_after_escape(*this, *spot, path, true, instruction, error)) {
      errno = error;
      return -1;
    }
  }
}

int Machine::openForReading(const fs::path &path, u16view instruction) {
  auto spot = spot_of(*this, path, false, instruction);
  if (!spot) return -1;
  for (;;) {
    // O_NONBLOCK: a FIFO without a writer does not hold the run; it is
    // refused below as every file that is not a regular one.
    // Beneath the data directory as for writing: through the directory
    // that holds the file, which may not be the program's own.
    int fd = -1;
    if (spot->beneath) {
      std::string leaf;
      if (Fd dir(parent_of(*this, *spot, leaf)); dir.get() >= 0)
        fd = text::open_beneath(dir.get(), leaf, O_RDONLY | O_NONBLOCK);
    } else {
      fd = ::open(spot->name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    }
    int error = 0;
    if (fd >= 0) {
      struct stat st {};
      if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || ::fcntl(fd, F_SETFL, 0) != 0) error = EINVAL;
      // A second name may be a file outside: refused for reading too.
      else if (spot->beneath && st.st_nlink > 1) error = EMLINK;
      if (!error) return fd;
      ::close(fd);
      if (error == EINVAL) {
        errno = EINVAL;
        return -1;
      }
    } else {
      error = errno;
    }
    if (!outside_after_escape(*this, *spot, path, false, instruction, error)) {
      errno = error;
      return -1;
    }
  }
}

std::optional<std::string> Machine::readFile(const fs::path &path, u16view instruction) {
  Fd fd(openForReading(path, instruction));
  if (fd.get() < 0) return std::nullopt;
  // A whole-file read holds the file and its text in memory several times
  // over: a file beyond the limit is the load error, not an exhausted
  // memory (FILE OPEN READ reads any size line by line).
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || st.st_size > kMaxWholeFile) {
    errno = EFBIG;
    return std::nullopt;
  }
  // Read straight into a string of the file's size (one page touched per
  // page of text, no copy); a file that grows meanwhile is read on to its
  // end in steps, one that shrinks is cut where it ended.
  std::string bytes(std::size_t(st.st_size) + 1, '\0');
  std::size_t have = 0;
  for (;;) {
    if (have == bytes.size()) bytes.resize(bytes.size() + std::max<std::size_t>(bytes.size() / 2, 65536));
    ssize_t n = ::read(fd.get(), bytes.data() + have, bytes.size() - have);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) break;
    have += std::size_t(n);
  }
  bytes.resize(have);
  return bytes;
}

bool Machine::replaceFile(const fs::path &path, std::string_view bytes, u16view instruction) {
  auto spot = spot_of(*this, path, true, instruction);
  if (!spot) return false;
  for (;;) {
    if (!spot->beneath) return text::write_file_bytes(path, bytes);
    std::string leaf;
    bool ok = false;
    if (Fd dir(parent_of(*this, *spot, leaf)); dir.get() >= 0) {
      // A link at the name is not written through beneath the data
      // directory: where it leads is outside as far as this run knows.
      struct stat st {};
      if (::fstatat(dir.get(), leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) errno = ELOOP;
      else ok = text::replace_file_at(dir.get(), leaf, bytes, true);
    }
    if (ok) return true;
    int error = errno;
    if (!outside_after_escape(*this, *spot, path, true, instruction, error)) {
      errno = error;
      return false;
    }
  }
}

bool Machine::deleteFile(const fs::path &path, u16view instruction) {
  auto spot = spot_of(*this, path, true, instruction);
  if (!spot) return false;
  for (;;) {
    std::string leaf;
    fs::path p(spot->name);
    if (!spot->beneath) leaf = p.filename().string();
    Fd dir(spot->beneath
               ? parent_of(*this, *spot, leaf)
               : ::open(p.parent_path().empty() ? "." : p.parent_path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) {
      // Regular files and links only; a link goes, what it names stays.
      struct stat st {};
      if (::fstatat(dir.get(), leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
      if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) return false;
      return ::unlinkat(dir.get(), leaf.c_str(), 0) == 0;
    }
    int error = errno;
    if (!outside_after_escape(*this, *spot, path, true, instruction, error)) {
      errno = error;
      return false;
    }
  }
}

}  // namespace velmora::engine
