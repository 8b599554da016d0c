#!/usr/bin/env bash
# The main job on the bench. Argument: the build folder.
set -euo pipefail
build=$1
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "== Writing the sample package (bench/packwriter/sample.json)"
"$build/bench/zarvik-pack" "$root/bench/packwriter/sample.json" --out "$work"
echo
echo "== zarvik-cli inspect 4242.gfi"
"$build/src/cli/zarvik-cli" inspect "$work/4242.gfi"
echo
echo "== zarvik-cli inspect 4242.gfr"
"$build/src/cli/zarvik-cli" inspect "$work/4242.gfr"
