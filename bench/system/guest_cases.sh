#!/bin/bash
# The cases on the installed system, run as root by zarvik-check.service in the guest (see
# boot_guest.sh): root plugs the virtual tool in as a USB gadget, installs and removes the
# package and looks at what udev, logind and ModemManager did; everything the updater does
# runs as the desktop user inside his own login session (user_agent.sh). Prints one row per
# case and leaves the table in /run/zarvik-out/table.
# Usage: guest_cases.sh PROJECT
set -uo pipefail
project=$1
build=$project/build/package
bench=$build/bench
gadget=$project/bench/usb/gadget.sh
out=/run/zarvik-out
check=/run/zarvik-check
work=/var/tmp/zarvik-check
user=desk
home=/home/$user
table=$out/table
rule=/usr/lib/udev/rules.d/70-zarvik-ktx2.rules
misses=0
: >"$table"
trap 'journalctl -b --no-pager -o short-monotonic >"$out/journal-monotonic.log" 2>&1' EXIT
mkdir -p "$work"
chmod 0755 "$work"

now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.1f", b - a }'; }

row() {  # case, what happened, expected, verdict, seconds
  local line
  line=$(printf '%-42s | %-64s | %-30s | %-4s | %5s' "$1" "${2:0:64}" "${3:0:30}" "$4" "$5")
  echo "$line" | tee -a "$table"
  [ "$4" = ok ] || [ "$4" = - ] || misses=$((misses + 1))
}
verdict() { if eval "$1"; then echo ok; else echo MISS; fi; }  # a test, as text

# Runs a script as the desktop user, in his session; leaves its output in $said, its status
# in $status and its time in $seconds.
n=0
as_user() {  # limit script
  local limit=$1 start i
  n=$((n + 1))
  {
    echo "set -a; [ -f $work/server.env ] && . $work/server.env; set +a; cd"
    echo "$2"
  } >"$check/requests/$n.part"
  mv "$check/requests/$n.part" "$check/requests/$n.sh"
  start=$(now)
  status=124
  for ((i = 0; i < (limit + 30) * 5; i++)); do
    [ -f "$check/done/$n.rc" ] && { status=$(cat "$check/done/$n.rc"); break; }
    sleep 0.2
  done
  seconds=$(since "$start")
  said=$(cat "$check/done/$n.out" 2>/dev/null)
  printf '== as %s (%s s, status %s):\n%s\n%s\n' "$user" "$seconds" "$status" "$2" "$said" \
    >>"$out/user.log"
}

node_of() {  # serial: the /dev/ttyACMn of the USB device with it
  local tty
  for tty in /sys/class/tty/ttyACM*; do
    [ -e "$tty" ] || continue
    [ "$(cat "$tty/device/../serial" 2>/dev/null)" = "$1" ] && { echo "/dev/${tty##*/}"; return 0; }
  done
  return 1
}
wait_node() {  # serial: waits until udev has made the node and run its rules
  local i
  for ((i = 0; i < 300; i++)); do
    node=$(node_of "$1") && [ -e "$node" ] && { udevadm settle -t 30; return 0; }
    sleep 0.1
  done
  return 1
}

extra_area=(--extra-area $((40 * 65536)) $((4 * 65536)))
tool=""
plug_tool() {  # toolsim options...: the virtual tool, plugged in as a fresh USB device
  "$bench/zarvik-toolsim" --state "${tool_state:-$work/demo-tool.json}" --gadget ktx2 --udc dummy_udc.0 \
    --usb-serial "${tool_serial:-KTX2-0001}" "${extra_area[@]}" "$@" >"$work/tool.log" 2>&1 &
  tool=$!
  wait_node "${tool_serial:-KTX2-0001}" || { echo "the tool did not enumerate"; cat "$work/tool.log"; }
}
unplug_tool() {  # leaves the frames and the stray bytes it received in $frames, $stray
  frames="" stray=""
  [ -n "$tool" ] || return 0
  kill "$tool" 2>/dev/null
  wait "$tool" 2>/dev/null
  tool=""
  frames=$(sed -n 's/.*: \([0-9]*\) frames received.*/\1/p' "$work/tool.log")
  stray=$(sed -n 's/.*reboots, \(.*\)/\1/p' "$work/tool.log")
  cat "$work/tool.log" >>"$out/tool.log"
  udevadm settle -t 30
}
stray_count() { echo "${stray%% *}"; }

mm_log_mark() { mm_since=$(date '+%Y-%m-%d %H:%M:%S'); }
mm_log() { journalctl -u ModemManager --since "$mm_since" --no-pager -o cat 2>/dev/null; }
modems() { mmcli -L 2>&1 | grep -v '^$' | head -1 | sed 's/^ *//'; }

inhibitors() { systemd-inhibit --list --no-pager --no-legend 2>&1 | grep zarvik || true; }
# Watches logind's locks until the file $1 appears; leaves every zarvik line seen in $2.
watch_inhibitors() {
  : >"$2"
  while [ ! -e "$1" ]; do
    inhibitors >>"$2"
    sleep 0.3
  done
}

# --- The user's session -----------------------------------------------------------------
mkdir -p "$check/requests" "$check/done"
chown "$user:" "$check/requests" "$check/done"
install -m 0644 "$project/bench/system/user_agent.sh" "$check/agent"
for _ in $(seq 600); do [ -f "$check/done/ready" ] && break; sleep 0.2; done
awk '{ print "boot " $1 }' /proc/uptime >"$out/figures"
echo "== The installed system: Debian $(cat /etc/debian_version), $(uname -r), $(nproc) CPUs"
printf '%-42s | %-64s | %-30s | %-4s | %5s\n' case "what happened" expected verdict s |
  tee -a "$table"
if [ ! -f "$check/done/ready" ]; then
  row "desktop user logged in on seat0" "no session after 120 s" "active session" MISS -
  { loginctl list-sessions; ps -eo pid,user,tty,stat,args; ls -la "$check" "$check"/*; } 2>&1
  exit 1
fi
session=$(tr '\n' ' ' <"$check/done/session")
row "desktop user logged in on seat0" \
  "$(sed -n 's/^\(Seat\|Active\|Class\)=//p' "$check/done/session" | tr '\n' ' ')groups: $(id -nG "$user")" \
  "seat0 yes user, no dialout" \
  "$(verdict '[[ $session == *Seat=seat0* && $session == *Active=yes* && $session != *dialout* ]]')" -

mmcli -G DEBUG >/dev/null 2>&1  # ModemManager's reasons in the journal
modprobe dummy_hcd
modprobe libcomposite
modprobe usb_f_acm
mountpoint -q /sys/kernel/config || mount -t configfs configfs /sys/kernel/config

# --- The bench server on the guest's loopback ---------------------------------------------
"$bench/zarvik-catalogue" "$work" >/dev/null
cp "$work/demo-tool.json" "$work/window-tool.json"
mkdir -p "$work/uploads"
"$bench/zarvik-serversim" --catalogue "$work/catalogue" --records "$work/records.json" \
  --log "$work/requests.log" --upload-dir "$work/uploads" --env-file "$work/server.env" \
  >"$work/server.log" 2>&1 &
server=$!
for _ in $(seq 600); do [ -f "$work/server.env" ] && break; sleep 0.1; done
[ -f "$work/server.env" ] || { echo "== the bench server did not start:"; cat "$work/server.log"; exit 1; }
chmod -R a+rX "$work"

# --- 1. Install, with the tool already plugged in ----------------------------------------
# The virtual tool needs no more than the C++ runtime: it is plugged in before the package
# is installed, and stays for the update. What ModemManager sends it meanwhile is counted.
start=$(now)
mm_log_mark
plug_tool
before_node=$(stat -c '%U:%G %a' "$node")
as_user 20 "exec 3<>$node && echo opened"
before_open=$status
row "before install: the plugged tool's node" "$node $before_node, the user's open: exit $before_open" \
  "root:dialout, user refused" "$(verdict '[ "$before_open" != 0 ]')" "$(since "$start")"

start=$(now)
cp "$build"/zarvik-updater_*.deb "$work/"
debfile=$(ls "$work"/zarvik-updater_*.deb)
apt_status=0
DEBIAN_FRONTEND=noninteractive apt-get install -y "$debfile" >"$out/apt-install.log" 2>&1 ||
  apt_status=$?
udevadm settle -t 30
installed=$(sed -n 's/.* \([0-9]*\) newly installed.*/\1/p' "$out/apt-install.log")
missing=$(ldd /usr/bin/zarvik-cli /usr/bin/zarvik-updater 2>&1 | grep -c "not found")
row "1 apt install ./$(basename "$debfile")" "exit $apt_status, ${installed:-?} newly installed, $missing libs missing" \
  "exit 0, 0 missing" "$(verdict '[ "$apt_status" = 0 ] && [ "$missing" = 0 ]')" "$(since "$start")"
if [ "$apt_status" != 0 ]; then
  tail -15 "$out/apt-install.log"
  echo "== apt install failed; no other case can run"
  exit 1
fi
acl=$(getfacl -cp "$node" 2>/dev/null | grep "^user:$user:" | tr '\n' ' ')
row "  post-install: the plugged tool's ACL" "$node: ${acl:-no entry for $user}" "user:$user:rw-" \
  "$(verdict '[ "${acl% }" = "user:$user:rw-" ]')" -
ignore=$(udevadm info -q property -n "$node" | grep '^ID_MM_DEVICE_IGNORE=')
row "  udevadm info" "${ignore:-no ID_MM_DEVICE_IGNORE}" "ID_MM_DEVICE_IGNORE=1" \
  "$(verdict '[ "$ignore" = ID_MM_DEVICE_IGNORE=1 ]')" -
as_user 20 "exec 3<>$node && echo opened; id -nG"
row "  the user opens it, outside dialout" "exit $status: $(echo "$said" | tr '\n' ' ')" \
  "opened" "$(verdict '[ "$status" = 0 ] && [[ $said != *dialout* ]]')" "$seconds"
# --- 2 and 3. The user's whole update, and logind's locks during it -----------------------
start=$(now)
rm -f "$work/update.done"
watch_inhibitors "$work/update.done" "$work/locks-update" &
watcher=$!
as_user 900 "zarvik-cli --yes --trace-link ~/update.trace program --firmware 900"
touch "$work/update.done"
wait "$watcher"
update_status=$status update_said=$said update_seconds=$seconds
unplug_tool
why=$(mm_log | grep -m1 -o 'ttyACM[0-9]*) port filtered: [a-z -]*')
row "  MM, the tool plugged in before install" "${stray:-?}; MM: ${why:-nothing logged}" "(shown)" - -
row "2 zarvik-cli --yes program --firmware 900" "exit $update_status: $(echo "$update_said" | grep -v '^\s*$' | tail -1)" \
  "exit 0, Updated Successfully" \
  "$(verdict '[ "$update_status" = 0 ] && [[ $update_said == *"Updated Successfully"* ]]')" "$update_seconds"
history=$(find "$home/.local/state/zarvik-updater" -type f -printf '%f %m %u\n' 2>/dev/null | tr '\n' ' ')
row "  history in ~/.local/state/zarvik-updater" "${history:-none}" "mode 600, $user's" \
  "$(verdict '[ -n "$history" ] && ! echo "$history" | grep -qv " 600 $user"')" -
locks=$(grep -o '[a-z:-]*idle\|handle-lid-switch\|delay\|block' "$work/locks-update" | sort -u |
  tr '\n' ' ')
after=$(inhibitors)
row "3 logind's locks during the update" "${locks:-none seen}" "both whats, mode block" \
  "$(verdict '[[ $locks == *shutdown* && $locks == *sleep* && $locks == *idle* && $locks == *handle-lid-switch* && $locks == *block* && $locks != *delay* ]]')" -
row "  after success" "${after:-none}" "none" "$(verdict '[ -z "$after" ]')" -
refused=$(grep -i "login manager" "$home/update.trace" 2>/dev/null | head -1)
[ -z "$refused" ] || echo "   trace: $refused"

start=$(now)
plug_tool --cut firmware:341
rm -f "$work/cut.done"
watch_inhibitors "$work/cut.done" "$work/locks-cut" &
watcher=$!
as_user 600 "zarvik-cli --yes program --firmware 900"
touch "$work/cut.done"
wait "$watcher"
cut_status=$status cut_said=$said
sleep 1
after=$(inhibitors)
held=$(grep -c block "$work/locks-cut")
unplug_tool
row "  cable pulled mid-firmware" "exit $cut_status, locks seen $held times, after: ${after:-none}" \
  "exit 1, held, then none" \
  "$(verdict '[ "$cut_status" != 0 ] && [ "$held" -gt 0 ] && [ -z "$after" ]')" "$(since "$start")"

# Refused: the same user outside any login session (a cron job, a remote shell without a
# seat), where polkit grants an ordinary user no more than an idle lock and delay locks.
start=$(now)
plug_tool --cut boot0:5
rm -f "$work/refused.done"
watch_inhibitors "$work/refused.done" "$work/locks-refused" &
watcher=$!
refused_status=0
runuser -u "$user" -- env -i HOME="$home" PATH=/usr/bin:/bin \
  bash -c "set -a; . $work/server.env; set +a; zarvik-cli --yes --trace-link $home/refused.trace program --firmware 900" \
  >"$work/refused.out" 2>&1 || refused_status=$?
touch "$work/refused.done"
wait "$watcher"
unplug_tool
note=$(grep -i "login manager" "$home/refused.trace" | head -1 | sed 's/^[^A-Z]*//')
granted=$(grep -o '[a-z:-]*idle\|sleep:shutdown\|shutdown:sleep\|handle-lid-switch\|delay\|block' \
  "$work/locks-refused" | sort -u | tr '\n' ' ')
row "  outside a session: what is granted" "${granted:-nothing}" "idle block, sleep delay" \
  "$(verdict '[[ $granted == *idle* && $granted == *delay* ]]')" "$(since "$start")"
row "  outside a session: the trace" "${note:-no note}" "the refusal named" \
  "$(verdict '[[ $note == *refused* ]]')" -
echo "   trace: ${note:-(none)}"

# --- 4. ModemManager -----------------------------------------------------------------------
# The tool plugged in afresh; `zarvik-cli find` as the user. Leaves find's status in
# $find_status and what the virtual tool got in $frames and $stray.
fresh_find() {  # seconds to leave ModemManager first
  plug_tool
  sleep "$1"
  as_user 60 "zarvik-cli find"
  find_status=$status
  unplug_tool
}
# The rule with its ModemManager part taken away (as a rule that only gives the user the port
# would be), in /etc, where it replaces the package's.
rule_without_mm() {
  grep -v '^#' "$rule" | sed 's/, ENV{ID_MM_DEVICE_IGNORE}="1"//' >/etc/udev/rules.d/70-zarvik-ktx2.rules
  udevadm control --reload
}
# ModemManager told to probe the tool: what every ModemManager up to 1.16 did, by its default
# filter policy, with any AT-capable cdc_acm port.
rule_probed() {
  grep -v '^#' "$rule" | sed 's/ENV{ID_MM_DEVICE_IGNORE}="1"/ENV{ID_MM_DEVICE_PROCESS}="1"/' \
    >/etc/udev/rules.d/70-zarvik-ktx2.rules
  udevadm control --reload
}
rule_back() {
  rm -f /etc/udev/rules.d/70-zarvik-ktx2.rules
  udevadm control --reload
}

start=$(now)
mm_log_mark
fresh_find 20
row "4 with the rule: MM leaves the tool alone" "find exit $find_status, $frames frames, ${stray:-?}" \
  "exit 0, 0 stray bytes" "$(verdict '[ "$find_status" = 0 ] && [ "$(stray_count)" = 0 ]')" "$(since "$start")"
row "  mmcli -L" "$(modems)" "No modems were found" "$(verdict '[[ $(modems) == *"No modems"* ]]')" -

# Without the rule's ModemManager part, Debian's ModemManager (filter policy strict) still
# leaves a lone cdc_acm port alone; its log says why.
start=$(now)
rule_without_mm
mm_log_mark
fresh_find 20
why=$(mm_log | grep -m1 -o 'ttyACM[0-9]*) port filtered: [a-z -]*\|port ttyACM[0-9]* [a-z ]*probing[a-z ]*')
row "  no MM part, Debian's MM (strict)" "find exit $find_status, ${stray:-?}; MM: ${why:-nothing logged}" \
  "exit 0, 0 stray bytes" "$(verdict '[ "$find_status" = 0 ] && [ "$(stray_count)" = 0 ]')" "$(since "$start")"

# A ModemManager that probes the tool (as its default policy up to 1.16 probed every
# AT-capable cdc_acm port): this is what the rule keeps away.
start=$(now)
rule_probed
mm_log_mark
plug_tool
# The user starts the updater while ModemManager probes, as one who plugs the tool in and
# starts at once would.
for _ in $(seq 300); do mm_log | grep -q 'ttyACM[0-9]*/at\] opening serial port' && break; sleep 0.1; done
as_user 150 "for i in \$(seq 60); do out=\$(zarvik-cli find 2>&1); s=\$?; [ \$s = 0 ] && echo \"\$i: found\" && break; echo \"\$i: \$out\" | tail -1; sleep 1; done"
busy=$(echo "$said" | grep -m1 "in use")
tries=$(echo "$said" | tail -1)
sleep 3
modem_list=$(modems)
unplug_tool
mm=$(mm_log | grep -m3 'ttyACM[0-9]*/at\] \(opening\|-->\)' | sed 's/^.*\] //' | tr '\n' ' ')
row "  MM told to probe it (as MM <= 1.16)" "${stray:-?}" "MM writes to the tool" \
  "$(verdict '[ "$(stray_count)" != 0 ]')" "$(since "$start")"
echo "   ModemManager: ${mm:0:400}"
row "  what the user is told" "${busy:-never busy}" "names ModemManager, what to do" \
  "$(verdict '[[ $busy == *ModemManager* && $busy == *"udevadm control --reload"* ]]')" -
echo "   told: $busy"
row "  once MM lets go" "${tries}; mmcli -L: $modem_list" "found, no modem" \
  "$(verdict '[[ $tries == *found* && $modem_list == *"No modems"* ]]')" -

start=$(now)
rule_back
mm_log_mark
fresh_find 20
row "  rule back, plugged in again" "find exit $find_status, $frames frames, ${stray:-?}" \
  "exit 0, 0 stray bytes" "$(verdict '[ "$find_status" = 0 ] && [ "$(stray_count)" = 0 ]')" "$(since "$start")"

# --- 5. The window, in the user's session, on a virtual display ---------------------------
# At start the window asks the server whether the updater is current; Find Device (clicked
# where it is drawn, the window at the screen's corner without a window manager) then finds
# the tool and asks the server about it.
start=$(now)
# The demo tool on a state file of its own, under another USB serial.
tool_state=$work/window-tool.json tool_serial=KTX2-0002 plug_tool
requests_before=$(wc -l <"$work/requests.log")
as_user 300 "xvfb-run -a -s '-screen 0 1024x768x24' bash -c '
  zarvik-updater >~/window.log 2>&1 &
  for i in \$(seq 120); do [ \$(wc -l <$work/requests.log) -gt $requests_before ] && break; sleep 1; done
  sleep 5
  seen=\$(wc -l <$work/requests.log)
  xdotool mousemove 91 335 click 1
  for i in \$(seq 120); do [ \$(wc -l <$work/requests.log) -gt \$seen ] && break; sleep 1; done
  sleep 10
  window=\$(xdotool search --onlyvisible --name Zarvik | head -1)
  xwd -silent \${window:+-id} \${window:--root} >~/window.xwd
  kill %1'"
window_status=$status
requests=$(($(wc -l <"$work/requests.log") - requests_before))
unplug_tool
cp "$home/window.xwd" "$out/window.xwd" 2>/dev/null
row "5 zarvik-updater under Xvfb: Find Device" "exit $window_status, $frames frames, $requests server requests" \
  "frames, requests" \
  "$(verdict '[ -s "$out/window.xwd" ] && [ "${frames:-0}" -gt 0 ] && [ "$requests" -gt 1 ]')" "$(since "$start")"

# --- 6. Removal ----------------------------------------------------------------------------
start=$(now)
plug_tool
dpkg -L zarvik-updater >"$work/files"
purge_status=0
DEBIAN_FRONTEND=noninteractive apt-get purge -y zarvik-updater >"$out/apt-purge.log" 2>&1 ||
  purge_status=$?
left=$(while read -r f; do [ -e "$f" ] && [ ! -d "$f" ] && echo "$f"; done <"$work/files")
left_dirs=$(ls -d /usr/share/doc/zarvik-updater 2>/dev/null)
row "6 apt purge zarvik-updater" "exit $purge_status, left: ${left:-none} ${left_dirs}" "exit 0, nothing left" \
  "$(verdict '[ "$purge_status" = 0 ] && [ -z "$left$left_dirs" ]')" "$(since "$start")"
purged_acl=$(getfacl -cp "$node" 2>/dev/null | grep "^user:$user:")
udevadm trigger --subsystem-match=tty --action=change
udevadm settle -t 30
ignore=$(udevadm info -q property -n "$node" | grep '^ID_MM_DEVICE_IGNORE=')
acl=$(getfacl -cp "$node" 2>/dev/null | grep "^user:$user:")
# udev keeps a plugged device's tags (uaccess among them) until it is unplugged, and logind
# gives the seat's user every device so tagged again at each of its events: the access the
# removed rule gave ends with the device, not with the trigger.
row "  after the next trigger" \
  "${ignore:-no ID_MM_DEVICE_IGNORE}; ACL ${purged_acl:-none} at purge, ${acl:-none} now" \
  "no ID_MM_DEVICE_IGNORE" "$(verdict '[ -z "$ignore" ]')" -
unplug_tool
plug_tool
ignore=$(udevadm info -q property -n "$node" | grep '^ID_MM_DEVICE_IGNORE=')
acl=$(getfacl -cp "$node" 2>/dev/null | grep "^user:$user:")
row "  plugged in again" "${ignore:-no ID_MM_DEVICE_IGNORE}, ${acl:-no ACL for $user}" \
  "neither" "$(verdict '[ -z "$ignore$acl" ]')" -
unplug_tool

kill "$server" 2>/dev/null
wait "$server" 2>/dev/null
cp -r "$home/update.trace" "$home/refused.trace" "$home/window.log" "$out/" 2>/dev/null
echo "== $misses missed"
[ "$misses" = 0 ]
