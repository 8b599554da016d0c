#!/usr/bin/env bash
# Fetches the USB test guest's kernel before any test runs: the package Debian's
# linux-image-amd64 currently depends on, unpacked once under ROOT/build/usb/kernel. When the
# guest cannot run (no such package, as on Ubuntu; no qemu; not amd64; offline) the reason is
# left in ROOT/build/usb/skip-reason for the guest to report as its skip, and the status is 1.
# Usage: fetch_kernel.sh ROOT
set -euo pipefail
usb=${ZARVIK_USB_DIR:-$1/build/usb}
kernel_dir=$usb/kernel
missing=$usb/skip-reason
mkdir -p "$usb"

unable() {
  echo "$*" >"$missing"
  echo "usb: $*" >&2
  exit 1
}

[ "$(uname -m)" = x86_64 ] || unable "not amd64 ($(uname -m)): the guest boots Debian's amd64 kernel"
command -v qemu-system-x86_64 >/dev/null || unable "no qemu (qemu-system-x86_64 is not installed)"
[ -x /bin/busybox ] || unable "no busybox (busybox-static is not installed)"
# Debian 13's kernel package ships its modules under usr/lib; depmod and modprobe look in lib.
merged_lib() { [ -e "$1/lib" ] || ln -s usr/lib "$1/lib"; }
if [ -d "$kernel_dir/boot" ]; then
  merged_lib "$kernel_dir"
  rm -f "$missing"
  exit 0
fi

kernel_package() {
  apt-cache depends linux-image-amd64 2>/dev/null |
    sed -n 's/.*Depends: \(linux-image-[0-9].*\)/\1/p' | head -1
  return 0
}
package=$(kernel_package)
if [ -z "$package" ]; then  # a machine whose package lists were never fetched
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  $sudo apt-get update -qq >/dev/null 2>&1 || true
  package=$(kernel_package)
fi
[ -n "$package" ] || unable "no Debian kernel package (linux-image-amd64) known to apt"
rm -f "$usb"/linux-image-*.deb
(cd "$usb" && apt-get download "$package" >/dev/null 2>&1) ||
  unable "the Debian kernel package $package could not be downloaded"
rm -rf "$kernel_dir.part"
dpkg-deb -x "$usb"/linux-image-*.deb "$kernel_dir.part" || unable "$package could not be unpacked"
merged_lib "$kernel_dir.part"
mv "$kernel_dir.part" "$kernel_dir"
rm -f "$missing"
