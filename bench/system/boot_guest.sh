#!/usr/bin/env bash
# The installed-system check from the host: builds (or reuses) the image of the release, boots
# it under qemu on a throw-away overlay with the project shared read-only, and prints the table
# that the case program (zarvik-system-cases) of the package build PACKAGE_DIR (built on that
# release) leaves in build/system/DIST/out. The package installed is PACKAGE_DIR's, or
# DEB_DIR's (another release's package on this release). Every failing step names itself, shows
# its log's tail and exits 1; qemu is never left running.
# Usage: boot_guest.sh ROOT DIST PACKAGE_DIR [DEB_DIR]
set -euo pipefail
root=$1
dist=$2
package_dir=$3
deb_dir=${4:-$3}
dir=$root/build/system/$dist
out=$dir/out
mkdir -p "$dir"

fail() {  # step log
  [ -f "${2:-}" ] && tail -20 "$2" >&2
  echo "system-check: $1${2:+ (log: $2)}" >&2
  exit 1
}
now() { date +%s; }

debs=("$deb_dir"/zarvik-updater_*.deb)
[ -f "${debs[0]}" ] || fail "no package in $deb_dir"
# The guest sees the package build at build/package, whichever release built it.
mkdir -p "$root/build/package"

start=$(now)
"$root/bench/system/build_image.sh" "$root" "$dir" "$dist" "${debs[0]}" ||
  fail "building the $dist image"
image_seconds=$(($(now) - start))

rm -rf "$out" "$dir/overlay.qcow2"
mkdir -p "$out"
qemu-img create -q -f qcow2 -b "$dir/disk.img" -F raw "$dir/overlay.qcow2" ||
  fail "making the disk's overlay"

qemu_pid=""
stop_qemu() { [ -n "$qemu_pid" ] && kill "$qemu_pid" 2>/dev/null && wait "$qemu_pid" 2>/dev/null; return 0; }
trap 'stop_qemu; rm -f "$dir/overlay.qcow2"' EXIT
trap 'exit 130' INT TERM

cpus=$(nproc)
[ "$cpus" -gt 4 ] && cpus=4
limit=${ZARVIK_SYSTEM_LIMIT:-3600}
boot() {  # accelerator options...
  # Faults planted in the cases' set-up, to see their rows fail: ZARVIK_SYSTEM_PLANTS="a b".
  # shellcheck disable=SC2086  # the plants are words
  printf '%s\n' ${ZARVIK_SYSTEM_PLANTS:-} >"$out/plants"
  timeout --foreground "$limit" qemu-system-x86_64 "$@" -m 3072 -smp "$cpus" \
    -kernel "$dir/vmlinuz" -initrd "$dir/initrd.img" \
    -append "root=/dev/vda rw console=ttyS0 quiet zarvik.project=$root zarvik.package=$package_dir zarvik.debs=$deb_dir" \
    -drive file="$dir/overlay.qcow2",if=virtio,format=qcow2 \
    -display none -serial file:"$out/console.log" -monitor none -no-reboot -nic none \
    -virtfs local,path="$root",mount_tag=project,security_model=none,readonly=on,multidevs=remap \
    -virtfs local,path="$out",mount_tag=out,security_model=none,multidevs=remap \
    </dev/null >"$out/qemu.log" 2>&1 &
  qemu_pid=$!
  wait "$qemu_pid"
}
boot_start=$(now)
status=0
# KVM where it works; a /dev/kvm that refuses the guest (nested, half-supported) gives TCG.
if [ -w /dev/kvm ] && boot -accel kvm -cpu host 2>/dev/null && [ -f "$out/status" ]; then
  :
else
  rm -rf "${out:?}"/*
  boot_start=$(now)
  boot -accel tcg,thread=multi -cpu max || status=$?
fi
qemu_pid=""
guest_seconds=$(($(now) - boot_start))
[ -s "$out/failure" ] && fail "$(cat "$out/failure")" "$out/cases.log"
[ -s "$out/table" ] || fail "booting the guest: it ran no case (qemu status $status)" "$out/console.log"
cat "$out/cases.log"
[ -f "$out/status" ] || fail "the guest did not finish its cases (qemu status $status)" "$out/console.log"

if [ -s "$out/window.xwd" ] && command -v xwdtopnm >/dev/null; then
  xwdtopnm "$out/window.xwd" 2>/dev/null | pnmtopng >"$dir/installed-window.png" 2>/dev/null &&
    echo "The installed window: $dir/installed-window.png"
fi
boot_seconds=$(awk '/^boot/ { printf "%.0f", $2 }' "$out/figures" 2>/dev/null)
echo "== Figures: image ${image_seconds} s (cached when unchanged), boot to the user's session" \
  "${boot_seconds:-?} s, the guest in all ${guest_seconds} s"
if [ "$(cat "$out/status")" != 0 ]; then
  echo "system-check: missed cases (logs in $out)" >&2
  exit 1
fi
