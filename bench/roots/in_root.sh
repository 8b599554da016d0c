#!/usr/bin/env bash
# Runs a command inside a release's root, with the project at its own path read-only and
# OUT (under the project's build/) writable. Everything is mounted in a mount namespace of
# its own, so nothing stays mounted when the command ends, however it ends.
# Usage: in_root.sh BASE PROJECT OUT COMMAND...
set -euo pipefail
base=$1
project=$2
out=$3
shift 3
mkdir -p "$out"
mkdir -p "$base/$project" "$base/$out" "$base/proc" "$base/sys" "$base/dev" "$base/tmp"
touch "$base/etc/resolv.conf"
# shellcheck disable=SC2016  # expanded by the inner shell
exec unshare --mount --propagation private --fork -- bash -euc '
  base=$1 project=$2 out=$3
  shift 3
  # The root a mount point, as a system'"'"'s is: a test that makes its own namespace may then
  # make it private.
  mount --bind "$base" "$base"
  mount --rbind /dev "$base/dev"
  mount -t proc proc "$base/proc"
  mount --rbind /sys "$base/sys"
  mount -t tmpfs tmpfs "$base/tmp"
  mount --bind /etc/resolv.conf "$base/etc/resolv.conf"
  mount --bind "$project" "$base$project"
  mount -o remount,bind,ro "$base$project"
  mount --bind "$out" "$base$out"
  exec chroot "$base" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
    TERM="${TERM:-dumb}" ZARVIK_IN_ROOT=1 "$@"
' in_root "$base" "$project" "$out" "$@"
