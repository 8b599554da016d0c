#!/usr/bin/env bash
# The installed-system guest's disk: a Debian release as a desktop has it (systemd, udev, dbus,
# logind, polkit, ModemManager), a desktop user who logs in on the first console by himself,
# and the packages the updater's .deb depends on waiting in apt's cache, so that apt installs
# it inside the guest, which has no network, from Debian's packages.
# Cached under DIR: the root is remade when this recipe changes, the image when the root or
# the package's dependencies change.
# Usage: build_image.sh ROOT DIR DIST DEB   (leaves DIR/disk.img, DIR/vmlinuz, DIR/initrd.img)
set -euo pipefail
root=$1
dir=$2
dist=$3
deb=$4
here=$root/bench/system
mkdir -p "$dir"

# In a mount namespace of its own, so that whatever a release's tools mount inside the root
# (Debian 13's left a /proc there) goes when they end.
isolated() { unshare --mount --propagation private --fork -- "$@"; }

# What the image holds besides the desktop's core: the bench server's libraries and FTP side,
# the virtual display and a screen grabber for the window, and procps for a look at processes.
includes=systemd-sysv,udev,dbus,linux-image-amd64,modemmanager,polkitd,libpam-systemd,acl
includes=$includes,python3-pyftpdlib,python3-openssl,xvfb,xauth,x11-apps
includes=$includes,procps,xdotool
# useradd and login: Debian 13's root no longer brings passwd and login along by themselves.
includes=$includes,passwd,login
# The bench server's HTTP library goes by its version.
case $dist in
  bookworm) includes=$includes,libcpp-httplib0.11 ;;
  trixie) includes=$includes,libcpp-httplib0.18 ;;
  *) echo "system-check: no image recipe for the release '$dist'" >&2; exit 1 ;;
esac

recipe=$( (echo "$dist"; cat "$here/build_image.sh" "$here/guest_boot.sh" "$here/zarvik-check.service" \
  "$here/profile_tail") |
  sha256sum | cut -c1-16)
base=$dir/root-$recipe
if [ ! -d "$base" ]; then
  rm -rf "$dir"/root-* "$dir/root.part"
  # The disk is thrown away after each run: dpkg need not sync it, nor man-db index the manuals
  # that the offline install brings (minutes under TCG).
  echo "system-check: building the $dist root (mmdebstrap, a few minutes)"
  isolated mmdebstrap --mode=root --variant=apt --include="$includes" \
    --skip=cleanup/apt/lists \
    --customize-hook='chroot "$1" useradd --create-home --shell /bin/bash --uid 1000 desk' \
    --customize-hook='chroot "$1" passwd --delete desk >/dev/null' \
    --customize-hook='echo zarvik-guest >"$1/etc/hostname"' \
    --customize-hook='echo "127.0.1.1 zarvik-guest" >>"$1/etc/hosts"' \
    --customize-hook="mkdir -p \"\$1/etc/systemd/system/getty@tty1.service.d\"" \
    --customize-hook="printf '[Service]\nExecStart=\nExecStart=-/sbin/agetty --autologin desk --noclear %%I \$TERM\n' >\"\$1/etc/systemd/system/getty@tty1.service.d/autologin.conf\"" \
    --customize-hook="install -m 0755 '$here/guest_boot.sh' \"\$1/usr/local/sbin/zarvik-check-boot\"" \
    --customize-hook="install -m 0644 '$here/zarvik-check.service' \"\$1/etc/systemd/system/zarvik-check.service\"" \
    --customize-hook='ln -s /etc/systemd/system/zarvik-check.service "$1/etc/systemd/system/multi-user.target.wants/"' \
    --customize-hook="cat '$here/profile_tail' >>\"\$1/home/desk/.profile\"" \
    --customize-hook='printf "/dev/vda / ext4 rw,errors=remount-ro 0 1\n" >"$1/etc/fstab"' \
    --customize-hook='echo force-unsafe-io >"$1/etc/dpkg/dpkg.cfg.d/zarvik-throw-away-disk"' \
    --customize-hook='rm -f "$1/var/lib/man-db/auto-update"' \
    "$dist" "$dir/root.part" >"$dir/mmdebstrap.log" 2>&1 || {
    tail -30 "$dir/mmdebstrap.log" >&2
    echo "system-check: the Debian root did not build (log: $dir/mmdebstrap.log)" >&2
    exit 1
  }
  mv "$dir/root.part" "$base"
fi

# The package's dependencies, fetched into the root's apt cache by the root's own apt.
wants=$( (echo "$recipe"; dpkg-deb -f "$deb" Depends Recommends) | sha256sum | cut -c1-16)
image=$dir/disk-$wants.img
if [ ! -f "$image" ]; then
  rm -f "$dir"/disk-*.img
  echo "system-check: fetching the package's dependencies into the image's apt cache"
  rm -f "$base"/var/cache/apt/archives/*.deb
  cp "$deb" "$base/tmp/zarvik.deb"
  cp /etc/resolv.conf "$base/etc/resolv.conf"
  status=0
  isolated chroot "$base" apt-get install --download-only -y /tmp/zarvik.deb >"$dir/prefetch.log" 2>&1 ||
    status=$?
  rm -f "$base/tmp/zarvik.deb" "$base/etc/resolv.conf"
  if [ "$status" != 0 ]; then
    tail -20 "$dir/prefetch.log" >&2
    echo "system-check: the package's dependencies could not be fetched (log: $dir/prefetch.log)" >&2
    exit 1
  fi
  cp "$base"/boot/vmlinuz-* "$dir/vmlinuz"
  cp "$base"/boot/initrd.img-* "$dir/initrd.img"
  mkfs.ext4 -q -F -L zarvik -d "$base" "$image.part" 6G >"$dir/mkfs.log" 2>&1 || {
    tail -20 "$dir/mkfs.log" >&2
    rm -f "$image.part"
    echo "system-check: the disk image could not be made (log: $dir/mkfs.log)" >&2
    exit 1
  }
  mv "$image.part" "$image"
fi
ln -sf "$(basename "$image")" "$dir/disk.img"
