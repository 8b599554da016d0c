#!/usr/bin/env bash
# The window against the bench: the virtual tool and the bench server on loopback.
# Arguments: the build folder, then options for zarvik-updater.
set -euo pipefail
build=$1
shift
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display here (neither DISPLAY nor WAYLAND_DISPLAY is set): the window cannot open."
  echo "Run ./run screenshot to see it drawn under Xvfb, or ./run demo for the command line."
  exit 0
fi
work=$(mktemp -d)
. "$(dirname "$0")/gui_bench.sh"
trap 'stop_gui_bench; rm -rf "$work"' EXIT
start_gui_bench
echo "== zarvik-updater --server $ZARVIK_SERVER --port $ZARVIK_PORT"
echo "   (press Find Device, then Program: the demo tool goes from 2.18.04 to 3.01.02;"
echo "    the request diagnostic goes to $work/updater.log)"
"$build/src/app/zarvik-updater" "$@" >"$work/updater.log"
