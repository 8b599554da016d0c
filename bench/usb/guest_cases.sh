#!/usr/bin/env bash
# The cases against the real USB stack, run inside the test guest (see boot_guest.sh): the
# virtual tool is a USB gadget on dummy_hcd, the updater opens the /dev/ttyACMn that cdc_acm
# makes of it. Prints one row per case and leaves the table in /tmp/out/table.
# Arguments (from /tmp/out/args): --short (the few cases of ./run test), --only TEXT (the
# cases whose name holds it; may be given more than once), --cli PATH (another zarvik-cli).
set -uo pipefail
root=$(cat /tmp/out/root)
build=$(cat /tmp/out/build)
mapfile -t args </tmp/out/args
short=0
only=()
cli_bin=$build/src/cli/zarvik-cli
for ((i = 0; i < ${#args[@]}; i++)); do
  case "${args[$i]}" in
    --short) short=1 ;;
    --only) only+=("${args[$((i + 1))]:-}"); i=$((i + 1)) ;;
    --cli) cli_bin=${args[$((i + 1))]:-}; i=$((i + 1)) ;;
  esac
done

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1
toolsim=$build/bench/zarvik-toolsim
gadget=$root/bench/usb/gadget.sh
work=/tmp/out/work  # kept on the host for a look after a miss
mkdir -p "$work"
table=/tmp/out/table
misses=0
: >"$table"

row() {  # case, what happened, expected, verdict, seconds
  local line
  line=$(printf '%-46s | %-44s | %-40s | %-4s | %5s' "$1" "$2" "$3" "$4" "$5")
  echo "$line" | tee -a "$table"
  [ "$4" = ok ] || misses=$((misses + 1))
}

wanted() {  # case name, in short form or not
  [ "$short" = 0 ] || [ "${2:-}" = short ] || return 1
  [ ${#only[@]} = 0 ] && return 0
  local text
  for text in "${only[@]}"; do [[ $1 == *"$text"* ]] && return 0; done
  return 1
}

now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.1f", b - a }'; }

# The bench server on the guest's loopback, for every case.
"$build/bench/zarvik-catalogue" "$work" >/dev/null
mkdir -p "$work/uploads"
"$build/bench/zarvik-serversim" --catalogue "$work/catalogue" --records "$work/records.json" \
  --log "$work/requests.log" --upload-dir "$work/uploads" --env-file "$work/server.env" \
  >"$work/server.log" 2>&1 &
server=$!
for _ in $(seq 1200); do [ -f "$work/server.env" ] && break; sleep 0.1; done
if [ ! -f "$work/server.env" ]; then
  echo "== the bench server did not start:"
  cat "$work/server.log"
  exit 1
fi
set -a
# shellcheck disable=SC1091
. "$work/server.env"
set +a
extra_area=(--extra-area $((40 * 65536)) $((4 * 65536)))

# The /dev/ttyACMn whose USB device has this serial, when cdc_acm has made one.
node_of() {
  local tty
  for tty in /sys/class/tty/ttyACM*; do
    [ -e "$tty" ] || continue
    if [ "$(cat "$tty/device/../serial" 2>/dev/null)" = "$1" ]; then
      echo "/dev/$(basename "$tty")"
      return 0
    fi
  done
  return 1
}

wait_node() {  # serial [seconds]: waits until the host has made the tool's node
  local i
  for ((i = 0; i < ${2:-20} * 10; i++)); do
    node=$(node_of "$1") && [ -e "$node" ] && return 0
    sleep 0.1
  done
  return 1
}

declare -A tool_pid
start_tool() {  # name udc serial [toolsim options...]
  local name=$1 udc=$2 serial=$3
  shift 3
  rm -f "$work/memory-$name"
  "$toolsim" --state "$work/demo-tool.json" --gadget "$name" --udc "$udc" --usb-serial "$serial" \
    --memory-out "$work/memory-$name" "${extra_area[@]}" "$@" >"$work/tool-$name.log" 2>&1 &
  tool_pid[$name]=$!
  wait_node "$serial" || { echo "tool $name did not enumerate"; cat "$work/tool-$name.log"; }
}

stop_tool() {  # name: frames it received are left in $frames, its memory in memory-NAME
  local pid=${tool_pid[$1]:-}
  frames=""
  [ -n "$pid" ] || return 0
  kill "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  frames=$(sed -n 's/.*: \([0-9]*\) frames received.*/\1/p' "$work/tool-$1.log")
  unset "tool_pid[$1]"
  sleep 0.3  # the host's side of the cable settles
}

power_cycle() {  # name
  kill -USR1 "${tool_pid[$1]}"
  for _ in $(seq 100); do grep -q "power cycle" "$work/tool-$1.log" && break; sleep 0.1; done
}

# Runs zarvik-cli with a time limit, as root or, with as_user set, as an ordinary user; leaves
# status, seconds and the output in $out.
as_user=()
cli() {  # limit arguments...
  local limit=$1 start
  shift
  start=$(now)
  out=$(timeout -k 5 "$limit" "${as_user[@]}" "$cli_bin" "$@" 2>&1)
  status=$?
  seconds=$(since "$start")
  echo "$out" >>"$work/cli.log"
}

report_count() { wc -l <"$work/requests.log" 2>/dev/null || echo 0; }
reports_since() {  # count: the report tags sent since
  tail -n +"$(($1 + 1))" "$work/requests.log" | grep '"valid|"' |
    sed -n 's/.*"tag":"\([^"]*\)".*/\1/p' | tr '\n' ' '
}

last_line() { echo "$out" | grep -v '^\s*$' | tail -1 | cut -c1-36; }

clean_seconds=60  # a whole update in this guest, until case_update has timed one

# 1. Seen and identified through cdc_acm.
case_find() {
  wanted "ports and find" short || return 0
  start_tool ktx2 dummy_udc.0 KTX2-0001
  cli 60 ports
  local listed=no
  echo "$out" | grep -q "KTX2-0001" && echo "$out" | grep -qi "04d8:f32b" && listed=yes
  row "ports lists the gadget (04d8:f32b, serial)" "listed: $listed, $node" "listed: yes" \
    "$([ $listed = yes ] && echo ok || echo MISS)" "$seconds"
  cli 60 find
  row "find identifies it" "exit $status: $(last_line)" "exit 0" \
    "$([ $status = 0 ] && echo ok || echo MISS)" "$seconds"
  clean_find=$out
  stop_tool ktx2
}

# 2. The whole update: every reboot a real disconnect and enumeration.
case_update() {
  wanted "whole update" short || return 0
  start_tool ktx2 dummy_udc.0 KTX2-0001
  cli 300 --yes --trace-link "$work/update.trace" program --firmware 900
  local nodes
  nodes=$(grep -o '/dev/ttyACM[0-9]*' "$work/update.trace" 2>/dev/null | sort -u | tr '\n' ' ')
  stop_tool ktx2
  local ok=MISS
  [ $status = 0 ] && echo "$out" | grep -q "Updated Successfully" && ok=ok
  row "whole update, both bootloaders" "exit $status, nodes $nodes" "exit 0, success" "$ok" \
    "$seconds"
  if [ $status = 0 ]; then
    clean_seconds=$seconds
    cp "$work/memory-ktx2" "$work/memory-clean"
  fi
}

# What a clean update leaves in the tool, for the recoveries to be compared with; made here
# when the whole-update case was not run.
clean_memory() {
  [ -f "$work/memory-clean" ] && return 0
  start_tool ktx2 dummy_udc.0 KTX2-0001
  cli 300 --yes program --firmware 900
  stop_tool ktx2
  [ $status = 0 ] && clean_seconds=$seconds && cp "$work/memory-ktx2" "$work/memory-clean"
}

# The same tool, twice: the same USB device however many interfaces it has, and a whole update
# with a tool whose bootloader shows another USB serial.
case_same_tool() {
  if wanted "composite tool"; then
    # Its bootloader shows another serial: only a tool alone in its socket is followed.
    start_tool ktx2 dummy_udc.0 KTX2-0001 --acm-functions 2 --serial-after-reboot KTX2-BOOT
    local ttys first opened
    ttys=$(ls -d /sys/bus/usb/devices/*/tty/ttyACM* 2>/dev/null | wc -l)
    first=/dev/$(basename "$(ls -d /sys/bus/usb/devices/*:1.0/tty/ttyACM* | head -1)")
    cli 60 find
    local found=$status
    cli 300 --yes --trace-link "$work/composite.trace" program --firmware 900
    opened=$(sed -n 's/.* open \(\/dev\/ttyACM[0-9]*\): ok/\1/p' "$work/composite.trace" | head -1)
    stop_tool ktx2
    local ok=MISS
    [ $found = 0 ] && [ $status = 0 ] && [ "$opened" = "$first" ] && ok=ok
    row "composite tool (two ACM), new serial at reboot" \
      "$ttys ttys; find $found, program $status on ${opened#/dev/}" \
      "exit 0, on the first interface's" "$ok" "$seconds"
  fi
  if wanted "serial changes across a reboot"; then
    start_tool ktx2 dummy_udc.0 KTX2-0001 --serial-after-reboot KTX2-BOOT
    cli 300 --yes program --firmware 900
    stop_tool ktx2
    local ok=MISS
    [ $status = 0 ] && ok=ok
    row "serial changes across a reboot" "exit $status: $(last_line)" "exit 0" "$ok" "$seconds"
  fi
}

case_two_tools() {
  wanted "two tools" || return 0
  start_tool ktx2 dummy_udc.0 KTX2-0001
  start_tool second dummy_udc.1 KTX2-0002
  cli 300 --yes --tool KTX2-0002 program --firmware 900
  local result=$status
  stop_tool ktx2
  local first=$frames
  stop_tool second
  local ok=MISS
  [ $result = 0 ] && [ "$first" = 0 ] && [ "${frames:-0}" -gt 0 ] && ok=ok
  row "two tools: --tool picks the second" "exit $result, first got $first frames" \
    "exit 0, first got 0 frames" "$ok" "$seconds"
}

# 3. The cable pulled at each cut point, then power and a whole update again.
cut_row() {  # point limit message tag [command]
  local point=$1 limit=$2 message=$3 tag=$4 command=${5:-program}
  wanted "cable pull at $point" "${6:-}" || return 0
  clean_memory
  start_tool ktx2 dummy_udc.0 KTX2-0001 --cut "$point"
  local before
  before=$(report_count)
  if [ "$command" = program ]; then
    cli 120 --yes program --firmware 900
  else
    cli 120 --yes "$command"
  fi
  local tags result=$status took=$seconds
  tags=$(reports_since "$before")
  local ok=MISS
  if [ "$tag" = "" ]; then
    [ $result = 0 ] && echo "$out" | grep -q "$message" && ok=ok
  else
    [ $result != 0 ] && echo "$out" | grep -q "$message" &&
      { [ "$tag" = - ] || [[ " $tags" == *" $tag "* ]]; } && ok=ok
  fi
  # Never after a time-out: at most the clean update's time plus what the fault may cost.
  awk -v t="$took" -v l="$limit" -v c="$clean_seconds" 'BEGIN { exit !(t > c + l + 5) }' &&
    ok=MISS
  row "cable pull at $point" "exit $result, ${tags:-no report}" "${message:0:28}, $tag" "$ok" "$took"
  power_cycle ktx2
  wait_node KTX2-0001 10
  cli 60 find
  local found=$status
  cli 300 --yes program --firmware 900
  stop_tool ktx2
  local memory=differs
  cmp -s "$work/memory-ktx2" "$work/memory-clean" && memory=same
  ok=MISS
  [ $found = 0 ] && [ $status = 0 ] && [ $memory = same ] && ok=ok
  row "  then power, find, program" "find $found, program $status, memory $memory" \
    "exit 0, memory as a clean update's" "$ok" "$seconds"
}

case_cuts() {
  local firmware="Writing Firmware V3.01.02 Failed"
  cut_row boot0:5 11 "Writing Bootloader 0 Failed" _Failed_BL0 program
  cut_row boot1:last 11 "Writing Bootloader 1 Failed" _Failed_BL1 program
  cut_row reboot:start 11 "Writing Bootloader 0 Failed" _Failed_BL0 program
  cut_row firmware:start 5 "$firmware" _Failed_FIRM program
  cut_row firmware:341 5 "$firmware" _Failed_FIRM program short
  cut_row firmware:last 5 "$firmware" _Failed_FIRM program
  cut_row erase:start 50 "Erase 4 Failed" _Failed_MemErase_Block_40 program
  cut_row memory:start 5 "Memory 2 Not Programmed Correctly" _Failed_Mem_Block_9000 program
  cut_row extra:start 5 "Extra File 1 Not Programmed Correctly" _Failed_Custom_Mem_1 program
  cut_row directory:start 5 "Extra File 0 Not Programmed Correctly" _Failed_Custom_Mem_0 program
  cut_row bluetooth:start 5 "Bluetooth Smart Module Update Failed" _Failed_BLE_Update_2 program
  cut_row completion:start 5 "KTX2 Firmware Updated Successfully" "" program
  cut_row backup-read:1 5 "File upload failed" - upload-backups
}

# 4. A bootloader that restarts by itself before its last record is acknowledged: a tool at
# 1.23 given the legacy release (bootloader 1.16) gets the bridge image, after which it
# restarts by itself; and the whole update, whose second bootloader does the same.
case_self_restart() {
  wanted "self-restart" || return 0
  /usr/bin/python3 - "$work/demo-tool.json" "$work/tool-123.json" <<'PY'
import json, sys
state = json.load(open(sys.argv[1]))
state["bootSlots"] = ["1.23", "1.23"]
json.dump(state, open(sys.argv[2], "w"))
PY
  local bridge="$work/tool-123.json" writes ok
  "$toolsim" --state "$bridge" --gadget ktx2 --usb-serial KTX2-0001 "${extra_area[@]}" \
    --self-restart-unanswered >"$work/tool-ktx2.log" 2>&1 &
  tool_pid[ktx2]=$!
  wait_node KTX2-0001
  cli 300 --yes program --firmware 700
  stop_tool ktx2
  writes=$(echo "$out" | grep -c "^Writing Bootloader 1$")
  ok=MISS
  [ "$writes" = 1 ] && ok=ok
  row "self-restart unacknowledged: bridge image" "exit $status, written $writes times" \
    "written once" "$ok" "$seconds"
  start_tool ktx2 dummy_udc.0 KTX2-0001 --self-restart-unanswered
  cli 300 --yes program --firmware 900
  stop_tool ktx2
  writes=$(echo "$out" | grep -c "^Writing Bootloader")
  ok=MISS
  [ $status = 0 ] && [ "$writes" = 2 ] && ok=ok
  row "self-restart unacknowledged: whole update" "exit $status, $writes bootloader writes" \
    "exit 0, 2 writes" "$ok" "$seconds"
}

# 5. A tool that comes back late, or leaves late.
late_row() {  # name expected-status toolsim options...
  local name=$1 expected=$2
  shift 2
  wanted "$name" || return 0
  start_tool ktx2 dummy_udc.0 KTX2-0001 "$@"
  cli 300 --yes program --firmware 900
  stop_tool ktx2
  local ok=MISS
  [ "$status" = "$expected" ] && ok=ok
  row "$name" "exit $status: $(last_line)" "exit $expected" "$ok" "$seconds"
}

# udev's part, done by hand: devtmpfs makes each new node root's alone (0600), and the user is
# given it this many milliseconds later.
grant_nodes_late() {  # milliseconds
  local delay=$1 node key seen=" "
  while :; do
    for node in /dev/ttyACM*; do
      [ -e "$node" ] && [ "$(stat -c %a "$node")" = 600 ] || continue
      key=$(stat -c %i "$node")
      [[ $seen == *" $key "* ]] && continue
      seen+="$key "
      (sleep "$(awk -v d="$delay" 'BEGIN { print d / 1000 }')" && chmod 0666 "$node") &
    done
    sleep 0.05
  done
}

case_late_mode() {
  wanted "node given to the user late" || return 0
  # The user's own copy: a project in a folder of root's alone is out of the user's reach.
  mkdir -p /tmp/user-home
  cp "$cli_bin" /tmp/user-home/zarvik-cli
  chown -R 65534:65534 /tmp/user-home
  local root_cli=$cli_bin
  cli_bin=/tmp/user-home/zarvik-cli
  grant_nodes_late 800 &
  local granter=$!
  start_tool ktx2 dummy_udc.0 KTX2-0001 --reboot-delay 2500
  # Started as a user would: once the plugged-in tool is theirs.
  for _ in $(seq 50); do [ "$(stat -c %a "$node")" = 666 ] && break; sleep 0.1; done
  as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups env HOME=/tmp/user-home)
  cli 300 --yes program --firmware 900
  as_user=()
  cli_bin=$root_cli
  stop_tool ktx2
  kill "$granter"
  wait "$granter" 2>/dev/null
  local ok=MISS
  [ "$status" = 0 ] && ok=ok
  row "node given to the user 0.8 s late (not root)" "exit $status: $(last_line)" "exit 0" \
    "$ok" "$seconds"
}

case_late() {
  late_row "back after 3.5 s" 0 --reboot-delay 3500
  late_row "back after 5.5 s" 0 --reboot-delay 5500
  late_row "back after 7 s (past the wait)" 1 --reboot-delay 7000
  late_row "on the bus until 3.5 s after the reboot" 0 --leave-late 3500
}

# 6. Another USB serial device enumerates while the tool is away.
case_other_device() {
  wanted "other device on the freed number" || return 0
  "$gadget" remove other
  "$gadget" make other dummy_udc.2 0x1a86 0x7523 OTHER-1
  start_tool ktx2 dummy_udc.0 KTX2-0001 --reboot-delay 9000
  local heard=$work/other.bytes
  : >"$heard"
  (
    # Plugged in 3.5 s after the tool left for its first reboot: after the updater's first
    # look, which lets the tool's old number go, and before its last.
    for _ in $(seq 600); do [ -z "$(node_of KTX2-0001)" ] && break; sleep 0.1; done
    sleep 3.5
    "$gadget" bind other dummy_udc.2
    sleep 0.5
    terminal=$("$gadget" terminal other)
    stty -F "$terminal" raw -echo 2>/dev/null
    timeout 30 cat "$terminal" >"$heard"
  ) &
  local listener=$!
  cli 300 --yes --trace-link "$work/other.trace" program --firmware 900
  wait "$listener" 2>/dev/null
  stop_tool ktx2
  "$gadget" remove other
  local bytes
  bytes=$(stat -c %s "$heard")
  local ok=MISS
  [ "$bytes" = 0 ] && ok=ok
  row "other device on the freed number" "exit $status, other got $bytes bytes" \
    "other gets 0 bytes" "$ok" "$seconds"
}

# 8. A tool that stops reading mid-image.
case_stop_reading() {
  wanted "stops reading" || return 0
  start_tool ktx2 dummy_udc.0 KTX2-0001 --stop-reading-at firmware:200
  cli 300 --yes program --firmware 900
  local result=$status took=$seconds
  local ok=MISS
  [ $result = 1 ] && awk -v t="$took" 'BEGIN { exit !(t < 40) }' && ok=ok
  row "tool stops reading mid-image" "exit $result: $(last_line)" "exit 1, no 30 s close" "$ok" \
    "$took"
  stop_tool ktx2
}

# 9. A late reply to a given-up exchange, sent while the updater has the port closed, then
# Find Device again: the stale bytes are not taken for the next reply.
case_stale() {
  wanted "late reply" || return 0
  start_tool ktx2 dummy_udc.0 KTX2-0001 --late 13 --late-ms 6000
  cli 60 find
  local first=$status
  sleep 2
  cli 60 find
  stop_tool ktx2
  local ok=MISS
  # The same identity as a clean find (notes of earlier runs in this guest aside).
  local now_seen before_seen identity='^(Name|Vehicle|Current Firmware) :|^  [0-9]+\. id '
  now_seen=$(echo "$out" | grep -E "$identity")
  before_seen=$(echo "${clean_find:-$out}" | grep -E "$identity")
  [ "$status" = 0 ] && [ "$now_seen" = "$before_seen" ] && ok=ok
  row "late reply, then find again" "first exit $first, then exit $status" \
    "then exit 0, same identity" "$ok" "$seconds"
}

# 10. The port already in use.
case_busy() {
  wanted "busy" || return 0
  start_tool ktx2 dummy_udc.0 KTX2-0001
  exec 7<>"$node"
  cli 60 find
  exec 7>&-
  local ok=MISS
  [ $status != 0 ] && echo "$out" | grep -qi "in use\|busy\|another program" && ok=ok
  row "another program holds the node" "exit $status: $(last_line)" "busy message" "$ok" \
    "$seconds"
  stop_tool ktx2
}

# 1b. The tool on the bus but cdc_acm unbound from its interface.
case_unbound() {
  wanted "cdc_acm did not bind" || return 0
  start_tool ktx2 dummy_udc.0 KTX2-0001
  local interface
  interface=$(basename "$(readlink -f "/sys/class/tty/${node#/dev/}/device")")
  echo "$interface" >/sys/bus/usb/drivers/cdc_acm/unbind
  cli 60 find
  local ok=MISS
  echo "$out" | grep -qi "driver" && ! echo "$out" | grep -q "no USB device 04d8:f32b" && ok=ok
  row "cdc_acm did not bind: guidance" "$(last_line)" "attached, driver did not take it" "$ok" \
    "$seconds"
  stop_tool ktx2
}

# Figures: the same whole update with the line paced at 256000 bit/s, through cdc_acm and
# through a pseudo-terminal, in this guest and run. The raw rate is that of the image records
# (392 bytes each way out, "O" back), from the link trace's times.
raw_rate() {  # trace file: bytes per second of the raw record exchanges
  awk '/ > .*raw/ { sent = $1; next }
       / < / && sent != "" { total += $1 - sent; n++; sent = "" }
       END { if (n > 0) printf "%.0f", n * 392 / total; else print "?" }' "$1"
}

case_figures() {
  wanted "figures" || return 0
  start_tool ktx2 dummy_udc.0 KTX2-0001 --pace
  cli 600 --yes --trace-link "$work/usb-paced.trace" program --firmware 900
  local usb_status=$status usb_seconds=$seconds
  stop_tool ktx2
  "$toolsim" --state "$work/demo-tool.json" --link "$work/ktx2-pty" --pace "${extra_area[@]}" \
    >"$work/tool-pty.log" 2>&1 &
  local pty=$!
  for _ in $(seq 100); do [ -e "$work/ktx2-pty" ] && break; sleep 0.1; done
  cli 600 --yes --port "$work/ktx2-pty" --trace-link "$work/pty-paced.trace" program --firmware 900
  kill "$pty"
  wait "$pty" 2>/dev/null
  local ok=MISS
  [ "$usb_status" = 0 ] && [ "$status" = 0 ] && ok=ok
  row "figures: paced update, USB | pty" \
    "USB ${usb_seconds} s, pty ${seconds} s" "both exit 0" "$ok" "$usb_seconds"
  row "figures: raw record rate, USB | pty (B/s)" \
    "USB $(raw_rate "$work/usb-paced.trace"), pty $(raw_rate "$work/pty-paced.trace")" \
    "25600 on the wire" ok "-"
}

echo "== The real USB stack: $(uname -r), $(nproc) CPUs"
printf '%-46s | %-44s | %-40s | %-4s | %5s\n' case "what happened" expected verdict s |
  tee -a "$table"
case_find
case_update
case_cuts
case_self_restart
case_two_tools
case_same_tool
case_late
case_late_mode
case_other_device
case_stop_reading
case_stale
case_busy
case_unbound
case_figures
kill "$server" 2>/dev/null
wait "$server" 2>/dev/null
echo "== $misses missed"
[ "$misses" = 0 ]
