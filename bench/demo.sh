#!/usr/bin/env bash
# The main job on the bench: a virtual KTX2 and the bench server on loopback, and the
# updater finding the tool. Argument: the build folder.
set -euo pipefail
build=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

wait_for() {  # path
  for _ in $(seq 100); do [ -e "$1" ] && return 0; sleep 0.05; done
  echo "demo: $1 did not appear" >&2
  exit 1
}

echo "== The bench catalogue: the sample package, installed as firmware 1029 and offered as 4242"
mkdir -p "$work/catalogue/ktxFirmwares"
"$build/bench/zarvik-pack" "$root/bench/packwriter/sample.json" --out "$work/catalogue/ktxFirmwares" >/dev/null
cp "$work/catalogue/ktxFirmwares/4242.gfi" "$work/catalogue/ktxFirmwares/1029.gfi"
"$build/src/cli/zarvik-cli" inspect "$work/catalogue/ktxFirmwares/4242.gfr"

echo
echo "== Starting the bench server and the virtual tool"
"$build/bench/zarvik-serversim" --catalogue "$work/catalogue" --records "$root/bench/demo/records.json" \
  --log "$work/requests.log" --env-file "$work/server.env" >/dev/null &
pids+=($!)
"$build/bench/zarvik-toolsim" --link "$work/ktx2" --state "$root/bench/toolsim/states/ktx2.json" &
pids+=($!)
wait_for "$work/server.env"
wait_for "$work/ktx2"
set -a
. "$work/server.env"
set +a

echo
echo "== zarvik-cli check-version"
"$build/src/cli/zarvik-cli" check-version
echo
echo "== zarvik-cli --port $work/ktx2 find"
"$build/src/cli/zarvik-cli" --port "$work/ktx2" find
