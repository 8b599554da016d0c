#!/usr/bin/env bash
# A clean Debian root of one release with the packages given, for building and testing with
# that release's own compiler, Qt and libcurl. Cached under ROOT/build/roots: remade when the
# package list or this recipe changes.
# Usage: build_root.sh ROOT DIST PACKAGE...   (prints the root's directory)
set -euo pipefail
root=$1
dist=$2
shift 2
dir=$root/build/roots
mkdir -p "$dir"

recipe=$( (cat "$0"; printf '%s\n' "$dist" "$@") | sha256sum | cut -c1-16)
base=$dir/$dist-$recipe
if [ ! -d "$base" ]; then
  rm -rf "$dir/$dist"-* "$dir/$dist.part"
  log=$dir/$dist.log
  echo "roots: building the $dist root (mmdebstrap, a few minutes; log: $log)" >&2
  # Root mode: the packages' own device nodes and owners, so the root can boot a guest too.
  includes=$(IFS=,; echo "$*")
  mmdebstrap --mode=root --variant=apt --include="$includes" --skip=cleanup/apt/lists \
    --aptopt='APT::Install-Recommends "false"' \
    "$dist" "$dir/$dist.part" >"$log" 2>&1 || {
    tail -30 "$log" >&2
    rm -rf "$dir/$dist.part"
    echo "roots: the $dist root did not build (log: $log)" >&2
    exit 1
  }
  mv "$dir/$dist.part" "$base"
fi
echo "$base"
