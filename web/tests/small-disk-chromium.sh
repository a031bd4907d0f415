#!/bin/sh
# Chromium with its profile on a file system of VELMORA_PROFILE_MB megabytes:
# a tmpfs mounted over the --user-data-dir in a mount namespace of its own,
# so the browser's storage runs full as on a small disk, and the mount goes
# with the browser. Unprivileged users get the namespace through a user
# namespace (unshare --map-root-user).
dir=""
for a in "$@"; do
  case "$a" in --user-data-dir=*) dir="${a#--user-data-dir=}" ;; esac
done
[ -n "$dir" ] || { echo "small-disk-chromium: no --user-data-dir" >&2; exit 2; }
user=""
[ "$(id -u)" -eq 0 ] || user="--user --map-root-user"
# The profile's files written before the start (preferences) move onto the small disk.
exec unshare $user --mount --propagation private sh -c '
  size="$1" dir="$2" browser="$3"; shift 3
  keep=$(mktemp -d) && cp -a "$dir/." "$keep/" &&
  mount -t tmpfs -o size="${size}m" velmora-small-disk "$dir" &&
  cp -a "$keep/." "$dir/" && rm -rf "$keep" &&
  exec "$browser" "$@"' sh "${VELMORA_PROFILE_MB:-48}" "$dir" "${VELMORA_CHROMIUM:-/usr/bin/chromium}" "$@"
