# Sourced by the window's scripts: starts the virtual tool and the bench server in $work
# (which the caller creates and removes) on the demo catalogue of ./run demo, and loads the
# server settings. Needs $build; GUI_BENCH_PACE=1 runs the tool's line at its real speed;
# GUI_BENCH_TWO=1 puts two tools (KTX2-A, KTX2-B) on one hub in a fake sysfs tree
# ($work/fake) instead of naming the one tool's port.

start_gui_bench() {
  # Releases the virtual tool accepts: the demo tool runs 2.18.04 and is offered 3.01.02.
  "$build/bench/zarvik-catalogue" "$work" >/dev/null
  mkdir -p "$work/uploads"
  local hub=()
  [ -n "${GUI_BENCH_TWO:-}" ] && hub=(--fake-sysfs "$work/fake" --usb-serial KTX2-A)
  "$build/bench/zarvik-toolsim" --state "$work/demo-tool.json" --link "$work/ktx2" \
    --reboot-delay 1000 ${GUI_BENCH_PACE:+--pace} "${hub[@]}" >"$work/toolsim.log" 2>&1 &
  toolsim_pid=$!
  second_pid=
  if [ -n "${GUI_BENCH_TWO:-}" ]; then
    cp "$work/demo-tool.json" "$work/second-tool.json"
    "$build/bench/zarvik-toolsim" --state "$work/second-tool.json" --link "$work/ktx2-b" \
      --fake-sysfs "$work/fake" --usb-serial KTX2-B >"$work/second-tool.log" 2>&1 &
    second_pid=$!
  fi
  "$build/bench/zarvik-serversim" --catalogue "$work/catalogue" --records "$work/records.json" \
    --log "$work/requests.log" --upload-dir "$work/uploads" --env-file "$work/env" \
    >"$work/serversim.log" 2>&1 &
  serversim_pid=$!
  local ready=("$work/ktx2" "$work/env")
  [ -n "$second_pid" ] && ready+=("$work/ktx2-b")
  for _ in $(seq 300); do
    all=1
    for f in "${ready[@]}"; do [ -e "$f" ] || all=; done
    [ -n "$all" ] && break
    sleep 0.1
  done
  if [ -z "$all" ]; then
    echo "The bench did not start:" >&2
    cat "$work"/*.log >&2
    return 1
  fi
  set -a
  # shellcheck disable=SC1091
  . "$work/env"
  set +a
  if [ -z "$second_pid" ]; then export ZARVIK_PORT="$work/ktx2"; else unset ZARVIK_PORT; fi
}

stop_gui_bench() {
  [ -n "${toolsim_pid:-}" ] && kill "$toolsim_pid" 2>/dev/null && wait "$toolsim_pid" 2>/dev/null
  [ -n "${second_pid:-}" ] && kill "$second_pid" 2>/dev/null && wait "$second_pid" 2>/dev/null
  [ -n "${serversim_pid:-}" ] && kill "$serversim_pid" 2>/dev/null && wait "$serversim_pid" 2>/dev/null
  return 0
}
