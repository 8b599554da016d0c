#!/usr/bin/env bash
# The window after a successful identification, drawn under Xvfb and saved as a PNG.
# Arguments: the build folder, the PNG to write.
set -euo pipefail
build=$1
out=$(realpath -m "$2")
work=$(mktemp -d)
. "$(dirname "$0")/gui_bench.sh"
trap 'stop_gui_bench; rm -rf "$work"' EXIT
start_gui_bench
mkdir -p "$(dirname "$out")"
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x1024x24" \
  "$build/bench/zarvik-window-shot" --out "$out" >"$work/shot.log" 2>&1 || {
  cat "$work/shot.log" >&2
  exit 1
}
echo "Wrote $out"
