#!/usr/bin/env bash
# The window after a successful identification, and again mid-way through an update on the
# paced tool, and Find Device's question of which tool with two on one hub, drawn under Xvfb
# and saved as PNGs (the others next to the first, "-update" and "-choice").
# Arguments: the build folder, the PNG to write.
set -euo pipefail
build=$1
out=$(realpath -m "$2")
update_out=${out%.png}-update.png
choice_out=${out%.png}-choice.png
work=$(mktemp -d)
. "$(dirname "$0")/gui_bench.sh"
trap 'stop_gui_bench; rm -rf "$work"' EXIT
mkdir -p "$(dirname "$out")"

shoot() {  # window-shot arguments...
  QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x1024x24" \
    "$build/bench/zarvik-window-shot" "$@" >"$work/shot.log" 2>&1 || {
    cat "$work/shot.log" >&2
    exit 1
  }
}

start_gui_bench
shoot --out "$out"
echo "Wrote $out"
stop_gui_bench
# A fresh tool, at the line's real speed so that the bar shows the time remaining.
rm -rf "${work:?}"/*
GUI_BENCH_PACE=1 start_gui_bench
shoot --program --mid-update "$update_out"
[ -s "$update_out" ] || { cat "$work/shot.log" >&2; exit 1; }
echo "Wrote $update_out"
stop_gui_bench
rm -rf "${work:?}"/*
GUI_BENCH_TWO=1 start_gui_bench
shoot --choice "$choice_out" --sysfs "$work/fake"
[ -s "$choice_out" ] || { cat "$work/shot.log" >&2; exit 1; }
echo "Wrote $choice_out"
