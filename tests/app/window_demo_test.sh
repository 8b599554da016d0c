#!/usr/bin/env bash
# The window's demo bench end to end, offscreen: Find Device, Program, Yes, to the update's
# end. Argument: the build folder.
set -euo pipefail
build=$1
work=$(mktemp -d)
. "$(dirname "$0")/../../bench/gui_bench.sh"
trap 'stop_gui_bench; rm -rf "$work"' EXIT
start_gui_bench
QT_QPA_PLATFORM=offscreen "$build/bench/zarvik-window-shot" --program
# The tool now runs the offered release.
grep -q '"download|ktxFirmwares/900.gfr"' "$work/requests.log"
