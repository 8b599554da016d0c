#!/usr/bin/env bash
# Builds the USB test guest and boots it: Debian's kernel (fetched by fetch_kernel.sh into
# build/usb), an initramfs of busybox and the USB gadget, host and 9p modules, and the
# host's root shared read-only. The guest runs the build's zarvik-usb-cases with the arguments
# given here and leaves its table and status in build/usb/out.
# Usage: boot_guest.sh ROOT [case arguments...]; the build the guest runs is ZARVIK_USB_BUILD
# (default ROOT/build/test, the sanitizer build).
set -euo pipefail
root=$1
shift
usb=${ZARVIK_USB_DIR:-$root/build/usb}
out=$usb/out

fail() {
  echo "usb: $*" >&2
  exit 1
}

# What the guest cannot run without. The tests' run says so as a skip (its status in
# ZARVIK_USB_SKIP_STATUS) unless the guest is required (ZARVIK_USB_GUEST=required, as CI
# asks); ./run usb fails.
unable() {
  if [ -n "${ZARVIK_USB_SKIP_STATUS:-}" ] && [ "${ZARVIK_USB_GUEST:-}" != required ]; then
    echo "usb: SKIPPED: $*" >&2
    exit "$ZARVIK_USB_SKIP_STATUS"
  fi
  fail "$*"
}
[ "$(uname -m)" = x86_64 ] || unable "not amd64 ($(uname -m)): the guest boots Debian's amd64 kernel"
command -v qemu-system-x86_64 >/dev/null || unable "no qemu (qemu-system-x86_64 is not installed)"
[ -x /bin/busybox ] || unable "no busybox (busybox-static is not installed)"
mkdir -p "$usb"

# The kernel, fetched before the tests by fetch_kernel.sh: nothing is installed from here.
kernel_dir=$usb/kernel
if [ ! -d "$kernel_dir/boot" ]; then
  [ -s "$usb/skip-reason" ] && unable "$(cat "$usb/skip-reason")"
  unable "no Debian kernel fetched (bench/usb/fetch_kernel.sh fetches it)"
fi
version=$(ls "$kernel_dir/lib/modules" | head -1)
vmlinuz=$kernel_dir/boot/vmlinuz-$version
[ -f "$vmlinuz" ] || fail "no kernel image in $kernel_dir"

# The initramfs: busybox, the init, and the modules in the order their dependencies ask.
initrd=$usb/initrd-$version.cpio.gz
if [ ! -f "$initrd" ] || [ "$root/bench/usb/guest_init.sh" -nt "$initrd" ] || [ "$0" -nt "$initrd" ]; then
  [ -f "$kernel_dir/lib/modules/$version/modules.dep" ] || depmod -b "$kernel_dir" "$version"
  tree=$usb/initrd-tree
  rm -rf "$tree"
  mkdir -p "$tree"/{bin,dev,proc,sys,modules}
  cp /bin/busybox "$tree/bin/busybox"
  cp "$root/bench/usb/guest_init.sh" "$tree/init"
  chmod +x "$tree/init"
  : >"$tree/modules/order"
  # dummy_hcd with four controllers: four tools updated at once.
  # Only what is a module: Debian 13's kernel has virtio_pci built in.
  for module in virtio_pci 9pnet_virtio 9p configfs dummy_hcd libcomposite usb_f_acm cdc-acm; do
    modprobe -d "$kernel_dir" -S "$version" --show-depends "$module" | awk '$1 == "insmod" {print $2}'
  done | awk '!seen[$0]++' | while read -r file; do
    name=$(basename "$file")
    # Debian 13's modules come compressed; the guest's insmod takes them plain.
    case $name in
      *.ko.xz) name=${name%.xz}; /bin/busybox xz -dc "$file" >"$tree/modules/$name" ;;
      *) cp "$file" "$tree/modules/$name" ;;
    esac
    parameters=""
    [ "$name" = dummy_hcd.ko ] && parameters="num=4"
    echo "$name $parameters" >>"$tree/modules/order"
  done
  (cd "$tree" && find . | cpio -o -H newc --quiet | gzip -1) >"$initrd.part"
  mv "$initrd.part" "$initrd"
fi

rm -rf "$out"
mkdir -p "$out"
echo "$root" >"$out/root"
build=${ZARVIK_USB_BUILD:-$root/build/test}
[ -x "$build/src/cli/zarvik-cli" ] && [ -x "$build/bench/zarvik-usb-cases" ] ||
  fail "no build with the USB cases in $build (./run usb makes it)"
echo "$build" >"$out/build"
printf '%s\n' "$@" >"$out/args"

cpus=$(nproc)
[ "$cpus" -gt 4 ] && cpus=4
limit=${ZARVIK_USB_LIMIT:-3600}
boot() {  # accelerator options...
  timeout --foreground "$limit" qemu-system-x86_64 "$@" -m 3072 -smp "$cpus" \
    -kernel "$vmlinuz" -initrd "$initrd" -append "console=ttyS0 quiet panic=-1" \
    -nographic -no-reboot -nic none \
    -virtfs local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap \
    -virtfs local,path="$out",mount_tag=out,security_model=none,multidevs=remap \
    >"$out/console.log" 2>&1 </dev/null
}
status=0
# KVM where it works; a /dev/kvm that refuses the guest (nested, half-supported) gives TCG.
if [ -w /dev/kvm ] && (boot -accel kvm -cpu host) 2>/dev/null; then
  :
elif [ ! -f "$out/status" ]; then
  boot -accel tcg,thread=multi -cpu max || status=$?
fi
[ -f "$out/status" ] || {
  tail -20 "$out/console.log" >&2
  fail "the guest did not finish (qemu status $status; console in $out/console.log)"
}
status=$(cat "$out/status")
# The case program's own word on why it ran nothing (a selection that names no case).
[ -s "$out/failure" ] && fail "$(cat "$out/failure") (console in $out/console.log)"
if [ ! -s "$out/table" ]; then
  tail -20 "$out/console.log" >&2
  fail "the guest ran no case (status $status; console in $out/console.log)"
fi
cat "$out/table"
if [ "$status" != 0 ]; then
  echo "usb: missed cases (console in $out/console.log)" >&2
  exit 1
fi
