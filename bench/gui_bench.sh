# Sourced by the window's scripts: starts the virtual tool and the bench server in $work
# (which the caller creates and removes) and loads the server settings. Needs $build.

start_gui_bench() {
  local root
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  mkdir -p "$work/catalogue/ktxFirmwares"
  "$build/bench/zarvik-pack" "$root/bench/packwriter/sample.json" --out "$work/catalogue/ktxFirmwares" >/dev/null
  cp "$work/catalogue/ktxFirmwares/4242.gfi" "$work/catalogue/ktxFirmwares/4100.gfi"
  # The virtual tool's default identity: KTX firmware 2.18.04, serial 100001, hardware 0x1234.
  cat >"$work/records.json" <<'JSON'
{ "tools": [ { "serialNumber": 100001, "hardwareId": 4660, "name": "KTX2 Demo",
               "vehicle1": "Chevrolet", "vehicle2": "Silverado", "userNumber": 77,
               "manualCode1": "EN", "manualCode2": "GM",
               "firmwareList": "3.21.05:4242:CURRENT:Sample release for the bench, with faster start-up and the 2024 trucks.#3.22.00:4100:BETA:Beta with the new gauge pages.#",
               "userFiles": [] } ],
  "firmware": [ { "deviceFamily": "KTX", "firmwareVersion": "2.18.04", "variantCode": 0,
                  "firmwareId": 4242 } ] }
JSON
  "$build/bench/zarvik-toolsim" --link "$work/ktx2" >"$work/toolsim.log" 2>&1 &
  toolsim_pid=$!
  "$build/bench/zarvik-serversim" --catalogue "$work/catalogue" --records "$work/records.json" \
    --log "$work/requests.log" --env-file "$work/env" >"$work/serversim.log" 2>&1 &
  serversim_pid=$!
  for _ in $(seq 100); do
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
