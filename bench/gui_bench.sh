# Sourced by the window's scripts: starts the virtual tool and the bench server in $work
# (which the caller creates and removes) on the demo catalogue of ./run demo, and loads the
# server settings. Needs $build; GUI_BENCH_PACE=1 runs the tool's line at its real speed.

start_gui_bench() {
  # Releases the virtual tool accepts: the demo tool runs 2.18.04 and is offered 3.01.02.
  "$build/bench/zarvik-catalogue" "$work" >/dev/null
  mkdir -p "$work/uploads"
  "$build/bench/zarvik-toolsim" --state "$work/demo-tool.json" --link "$work/ktx2" \
    --reboot-delay 1000 ${GUI_BENCH_PACE:+--pace} >"$work/toolsim.log" 2>&1 &
  toolsim_pid=$!
  "$build/bench/zarvik-serversim" --catalogue "$work/catalogue" --records "$work/records.json" \
    --log "$work/requests.log" --upload-dir "$work/uploads" --env-file "$work/env" \
    >"$work/serversim.log" 2>&1 &
  serversim_pid=$!
  for _ in $(seq 300); do
    [ -e "$work/ktx2" ] && [ -e "$work/env" ] && break
    sleep 0.1
  done
  if [ ! -e "$work/ktx2" ] || [ ! -e "$work/env" ]; then
    echo "The bench did not start:" >&2
    cat "$work/toolsim.log" "$work/serversim.log" >&2
    return 1
  fi
  set -a
  # shellcheck disable=SC1091
  . "$work/env"
  set +a
  export ZARVIK_PORT="$work/ktx2"
}

stop_gui_bench() {
  [ -n "${toolsim_pid:-}" ] && kill "$toolsim_pid" 2>/dev/null && wait "$toolsim_pid" 2>/dev/null
  [ -n "${serversim_pid:-}" ] && kill "$serversim_pid" 2>/dev/null && wait "$serversim_pid" 2>/dev/null
  return 0
}
