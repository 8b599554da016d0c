#!/bin/sh
# Started by zarvik-check.service in the installed-system guest: mounts the project (read-only)
# and the output folder the host shares, runs the package build's case program and powers the
# guest off. The project's path comes on the kernel's command line.
project=$(sed -n 's/.* zarvik.project=\([^ ]*\).*/\1/p' /proc/cmdline)
package=$(sed -n 's/.* zarvik.package=\([^ ]*\).*/\1/p' /proc/cmdline)
debs=$(sed -n 's/.* zarvik.debs=\([^ ]*\).*/\1/p' /proc/cmdline)
modprobe 9pnet_virtio 2>/dev/null
mkdir -p /run/zarvik-out "$project"
mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144 out /run/zarvik-out || {
    echo "zarvik-check: no output folder"
    systemctl poweroff
    exit 1
}
mount -t 9p -o ro,trans=virtio,version=9p2000.L,msize=262144 project "$project" || {
    echo "zarvik-check: no project folder" | tee /run/zarvik-out/failure
    systemctl poweroff
    exit 1
}
# The package build of this guest's release, where the cases look for their bench programs.
if [ -n "$package" ] && [ "$package" != "$project/build/package" ]; then
    mount --bind "$package" "$project/build/package" || {
        echo "zarvik-check: no package build at $package" | tee /run/zarvik-out/failure
        systemctl poweroff
        exit 1
    }
fi
status=0
"$project/build/package/bench/zarvik-system-cases" "$project" ${debs:+"$debs"} >/run/zarvik-out/cases.log 2>&1 ||
    status=$?
echo "$status" >/run/zarvik-out/status
journalctl -b --no-pager >/run/zarvik-out/journal.log 2>&1
sync
systemctl poweroff
