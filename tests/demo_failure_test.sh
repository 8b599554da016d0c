#!/usr/bin/env bash
# A demo that fails must tell a script so, name what failed on its last line and keep the logs
# that say why. Argument: the build folder.
set -uo pipefail
demo=$(dirname "$0")/../bench/demo.sh
build=$1
failures=0

# tool options, the last line's start, a text the output holds, a line it must not hold
check() {
  local options=$1 last_expected=$2 said=$3 never=$4 out status last kept
  # shellcheck disable=SC2086  # the options are words
  out=$("$demo" "$build" -- $options 2>&1)
  status=$?
  last=$(printf '%s\n' "$out" | tail -1)
  kept=$(printf '%s\n' "$out" | sed -n 's/.*logs\{0,1\} kept in \([^ )]*\).*/\1/p' | head -1)
  if [ "$status" -eq 1 ] && [[ $last == "$last_expected"* ]] && [[ $out == *"$said"* ]] &&
    ! grep -q "$never" <<<"$out" && { [ -s "$kept" ] || [ -d "$kept" ]; }; then
    [ -f "$kept" ] && kept=$(dirname "$kept")
    [[ $(basename "$kept") == tmp.* ]] && rm -rf "$kept"
    return 0
  fi
  printf '%s\n' "$out" | tail -30
  echo "options '$options': exit status $status, last line: $last, kept: ${kept:-nothing}" >&2
  failures=$((failures + 1))
}

# The update fails: the runs after it are not started.
check "--refuse-at firmware:3" "Demo FAILED at: zarvik-cli --yes program --firmware 900" \
  "Failed" "^== zarvik-cli --yes program-memories"
# The virtual tool does not start: it is named at once, with its reason.
check "--refuse-at bogus" "Demo FAILED at: starting the virtual tool" "no such point: bogus" \
  "^== zarvik-cli"
[ "$failures" = 0 ]
