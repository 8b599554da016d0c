#!/usr/bin/env bash
# The main job on the bench: a virtual tool and the bench server on a generated catalogue,
# then a whole firmware update, a memory-only run and a backup upload with zarvik-cli.
# Arguments: the build folder, then optionally --tls (HTTPS and FTP by TLS throughout), then
# -- and options for the virtual tool (e.g. -- --refuse-block 5 to see a failed update). Exits
# 0 only when every run ended as it should; otherwise 1, with the failed step on the last line.
set -euo pipefail
build=$1
shift
server_tls=()
tool_options=()
while [ $# -gt 0 ]; do
  case $1 in
    --tls) server_tls=(--tls); shift ;;
    --) shift; tool_options=("$@"); break ;;
    *) echo "usage: demo.sh BUILD [--tls] [-- TOOL-OPTIONS...]" >&2; exit 2 ;;
  esac
done
work=$(mktemp -d)
pids=()
keep=""  # a failed run keeps its folder: the logs say why
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  [ -n "$keep" ] || rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

echo "== Writing the bench catalogue"
"$build/bench/zarvik-catalogue" "$work"

"$build/bench/zarvik-toolsim" --state "$work/demo-tool.json" --link "$work/ktx2" \
  --reboot-delay 1000 "${tool_options[@]}" >"$work/tool.log" 2>&1 &
tool=$!
pids+=("$tool")
mkdir -p "$work/uploads"
"$build/bench/zarvik-serversim" --catalogue "$work/catalogue" --records "$work/records.json" \
  --log "$work/requests.log" --upload-dir "$work/uploads" --env-file "$work/server.env" \
  "${server_tls[@]}" >"$work/server.log" 2>&1 &
server=$!
pids+=("$server")
# Ready when each has published its address; one that exits first will never be.
ready() {  # pid file
  [ -e "$2" ] && return 0
  kill -0 "$1" 2>/dev/null || return 2
  return 1
}
not_started() {  # what log
  keep=1
  echo "$1 did not start (log kept in $2):" >&2
  cat "$2" >&2
  echo "Demo FAILED at: starting $1"
  exit 1
}
for _ in $(seq 300); do
  tool_ready=0 server_ready=0
  ready "$tool" "$work/ktx2" || tool_ready=$?
  ready "$server" "$work/server.env" || server_ready=$?
  [ "$tool_ready" = 2 ] && not_started "the virtual tool (zarvik-toolsim)" "$work/tool.log"
  [ "$server_ready" = 2 ] && not_started "the bench server (zarvik-serversim)" "$work/server.log"
  [ "$tool_ready$server_ready" = 00 ] && break
  sleep 0.1
done
[ "$tool_ready" = 0 ] || not_started "the virtual tool (zarvik-toolsim)" "$work/tool.log"
[ "$server_ready" = 0 ] || not_started "the bench server (zarvik-serversim)" "$work/server.log"
set -a
. "$work/server.env"
set +a
[ ${#server_tls[@]} -eq 0 ] || echo "== Over TLS: $ZARVIK_SERVER, trusting $CURL_CA_BUNDLE"
cli=("$build/src/cli/zarvik-cli" --port "$work/ktx2")

failed=""
# step TITLE EXPECTED ARGS...: one zarvik-cli run, shown whole; it must exit 0 and say EXPECTED.
step() {
  local title=$1 expected=$2 status=0
  shift 2
  [ -z "$failed" ] || return 0
  echo
  echo "== $title"
  "${cli[@]}" "$@" 2>&1 | tee "$work/step.out" || status=$?
  echo "-> exit status $status"
  if [ "$status" -ne 0 ]; then
    failed="$title (exit status $status)"
  elif ! grep -qF -- "$expected" "$work/step.out"; then
    failed="$title (it never said \"$expected\")"
  fi
}
step "zarvik-cli find" "Current Firmware : " find
step "zarvik-cli --yes program --firmware 900" "KTX2 Firmware Updated Successfully" \
  --yes program --firmware 900
step "zarvik-cli --yes program-memories" "The extra files have been programmed correctly." \
  --yes program-memories
step "zarvik-cli --yes upload-backups" "File uploaded to server successfully" --yes upload-backups
if [ -z "$failed" ] && [ -z "$(ls -A "$work/uploads")" ]; then
  failed="zarvik-cli --yes upload-backups (the bench server received no file)"
fi
echo
echo "== What the bench server heard (reports)"
grep '"valid|"' "$work/requests.log" | sed -n 's/.*"mode":\([0-9]\).*"tag":"\([^"]*\)".*/  valid| mode \1 tag "\2"/p' || true
ls -l "$work/uploads" 2>/dev/null | sed 's/^/  /' || true
echo
if [ -n "$failed" ]; then
  keep=1
  echo "(logs kept in $work)"
  echo "Demo FAILED at: $failed"
  exit 1
fi
echo "Demo passed: find, the whole update, the memory-only run and the backup upload all ended as they should."
