#!/usr/bin/env bash
# The main job on the bench. Argument: the build folder.
set -euo pipefail
build=$1
echo "demo: nothing to show yet"
