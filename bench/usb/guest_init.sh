#!/bin/busybox sh
# /init of the USB test guest: loads the USB and 9p modules, mounts the host's root read-only,
# gives it the kernel's file systems and a fresh /tmp, and runs the case program in it.
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
exec >/dev/console 2>&1

while read -r module parameters; do
  # shellcheck disable=SC2086  # the parameters are words
  insmod "/modules/$module" $parameters || echo "guest: $module did not load"
done </modules/order

mkdir -p /host /out
mount -t 9p -o ro,trans=virtio,version=9p2000.L,msize=262144,cache=loose hostroot /host ||
  { echo "guest: no host root"; poweroff -f; }
mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144 out /out ||
  { echo "guest: no output folder"; poweroff -f; }
root=$(cat /out/root)
# A project under /tmp (a fresh clone there) would vanish under the guest's own /tmp: keep it
# in view at its own path.
case $root in
  /tmp/*) mkdir -p /project && mount -o bind "/host$root" /project ;;
esac
mount -t proc proc /host/proc
mount -t sysfs sys /host/sys
mount -t configfs configfs /host/sys/kernel/config
mount -t devtmpfs dev /host/dev
mkdir -p /host/dev/pts /host/dev/shm 2>/dev/null
mount -t devpts -o ptmxmode=0666,newinstance devpts /host/dev/pts
ln -sf pts/ptmx /host/dev/ptmx 2>/dev/null
mount -t tmpfs tmp /host/dev/shm
mount -t tmpfs tmp /host/tmp
mkdir -p /host/tmp/out
mount -o bind /out /host/tmp/out
case $root in
  /tmp/*) mkdir -p "/host$root" && mount -o bind /project "/host$root" ;;
esac
ip link set lo up 2>/dev/null || ifconfig lo 127.0.0.1 up

# The cases are a program of the build under test, sanitizers and all.
build=$(cat /out/build)
status=0
chroot /host /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/tmp TMPDIR=/tmp \
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  "$build/bench/zarvik-usb-cases" || status=$?
echo "$status" >/host/tmp/out/status
sync
poweroff -f
