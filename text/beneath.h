#pragma once
// Files opened beneath a directory by the kernel: the directory is opened
// once, and every file is opened relative to it, so that a symbolic link, a
// "..", an absolute name or a rename between a check and the use cannot
// lead outside it. No symbolic link is followed, wherever it points: one
// rule, whichever instruction opens the file. Linux 5.6 and later do this
// in one call (openat2 with RESOLVE_BENEATH and RESOLVE_NO_SYMLINKS); where
// that call is missing, the path is walked one component at a time with
// O_NOFOLLOW, which refuses every link and "..".
//
// Every function here returns -1 (or false) with errno set on failure;
// EXDEV means the name would have left the directory, ELOOP that it goes
// through a symbolic link.
#include <sys/types.h>

#include <string>
#include <string_view>

#include "text/u16.h"

namespace velmora::text {

// True when the name can be a file name here: no NUL (which would end the
// name early in every system call) and no half of a surrogate pair (which
// has no UTF-8 form, so the file made would not be the file named).
bool representable_file_name(u16view name);
// The name for a message: control characters as \xHH, a lone surrogate as
// \uHHHH, everything else as it is.
u16 escaped_file_name(u16view name);

// True when this kernel resolves beneath a directory itself (openat2).
bool kernel_resolves_beneath();

// Opens `relative` beneath the directory `dirfd` (a relative name; "" and
// "." name the directory itself). Flags and mode as for open(2).
int open_beneath(int dirfd, const std::string &relative, int flags, mode_t mode = 0);

// The same without openat2, always: each component with O_NOFOLLOW, ".."
// refused (for kernels before 5.6; public for its tests).
int open_beneath_walking(int dirfd, const std::string &relative, int flags, mode_t mode = 0);

// Opens the directory that holds `relative`, beneath `dirfd`, as an O_PATH
// handle for the *at calls, and gives the last component in `leaf` ("" when
// `relative` names the directory itself).
int open_parent_beneath(int dirfd, const std::string &relative, std::string &leaf);

// The path the kernel gives for an open descriptor ("" when unknown).
std::string descriptor_path(int fd);

// Opens a regular file for writing without following a link at its name
// and without blocking on a FIFO: `leaf` in the directory `dirfd`
// (AT_FDCWD and a path for anywhere), created with mode 0666 when
// missing, then truncated (`append` false) or positioned at its end.
// Anything but a regular file is refused (EINVAL) — a FIFO, a socket, a
// directory; a character device (/dev/null) only `beneath` — and so is a
// file with more than one hard link when `refuseLinked` (EMLINK).
// `beneath`: `leaf` is resolved beneath `dirfd` (open_beneath); otherwise
// it is opened as open(2) would, links followed.
int open_regular_for_writing(int dirfd, const std::string &leaf, bool append, bool refuseLinked, bool beneath);

// Replaces `leaf` in the directory `dirfd` with the bytes: they go to a new
// file under an unpredictable name (created exclusively, so no link that
// is already there is followed), are flushed to the disk and renamed over
// the leaf. The replacement keeps the old file's permissions. Refuses a
// leaf that is not a regular file (a link, a device, a pipe, a directory),
// and with `refuseLinked` one with more than one hard link.
bool replace_file_at(int dirfd, const std::string &leaf, std::string_view bytes, bool refuseLinked);

// A name for a temporary file beside `leaf`: the leaf and random letters.
std::string unpredictable_name(const std::string &leaf);

// Removes the temporary files that replace_file_at has made and not yet
// renamed or removed: for a process that must end at once. Only system
// calls, so it may run in any thread at any time.
void remove_temporaries();

}  // namespace velmora::text
