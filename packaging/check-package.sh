#!/usr/bin/env bash
# Checks a built .deb as Debian would: lintian, the desktop entry, the AppStream file, the
# file list, and the programs run from the unpacked package.
# Argument: the .deb.
set -euo pipefail
deb=$(realpath "$1")
here=$(cd "$(dirname "$0")" && pwd)
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
failed=0
check() {  # name, command...
  local name=$1; shift
  if "$@"; then echo "ok   $name"; else echo "FAIL $name"; failed=1; fi
}

echo "== $(basename "$deb")"
dpkg-deb --field "$deb" Package Version Depends Recommends

lintian_run() {
  lintian --info --fail-on error --suppress-tags "$(paste -sd, "$here/lintian-suppressed")" "$deb"
}
check "lintian (no errors)" lintian_run

dpkg -x "$deb" "$root"
check desktop-file-validate desktop-file-validate "$root/usr/share/applications/zarvik-updater.desktop"
check "appstreamcli validate" appstreamcli validate --no-net \
  "$root/usr/share/metainfo/com.zarvik.updater.metainfo.xml"

contents() {  # permissions, owner and path of every entry
  dpkg-deb --contents "$deb" | awk '{print $1, $2, $6}' | sort -k3
}
check "contents match packaging/expected-contents.txt" \
  diff -u "$here/expected-contents.txt" <(contents)

# Only the system's libraries are needed: the programs run from where dpkg put them.
check "zarvik-cli --help" bash -c "'$root/usr/bin/zarvik-cli' --help | grep -q program-memories"
check "zarvik-updater --help" bash -c \
  "QT_QPA_PLATFORM=offscreen '$root/usr/bin/zarvik-updater' --help | grep -q -- --port"
check "bash completion loads" bash -c ". '$root/usr/share/bash-completion/completions/zarvik-cli'"
check "no bench programs" bash -c "! ls '$root/usr/bin' | grep -q -e toolsim -e serversim -e pack"

exit $failed
