// The C library of the browser build has no process creation. Commands are
// refused before they get here (engine/permissions.cpp); should one still
// arrive, it fails as a system without processes would.
#include <spawn.h>

#include <cerrno>

extern "C" int posix_spawnp(pid_t *, const char *, const posix_spawn_file_actions_t *, const posix_spawnattr_t *,
                            char *const[], char *const[]) {
  return ENOSYS;
}
