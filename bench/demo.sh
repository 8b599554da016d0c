#!/usr/bin/env bash
# The main job on the bench: a virtual tool and the bench server on a generated catalogue,
# then a whole firmware update, a memory-only run and a backup upload with zarvik-cli.
# Arguments: the build folder, then --tls for HTTPS and FTP by TLS throughout.
set -euo pipefail
build=$1
server_tls=()
[ "${2:-}" = --tls ] && server_tls=(--tls)
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

echo "== Writing the bench catalogue"
"$build/bench/zarvik-catalogue" "$work"

"$build/bench/zarvik-toolsim" --state "$work/demo-tool.json" --link "$work/ktx2" \
  --reboot-delay 1000 >"$work/tool.log" 2>&1 &
pids+=($!)
mkdir -p "$work/uploads"
"$build/bench/zarvik-serversim" --catalogue "$work/catalogue" --records "$work/records.json" \
  --log "$work/requests.log" --upload-dir "$work/uploads" --env-file "$work/server.env" \
  "${server_tls[@]}" >"$work/server.log" 2>&1 &
pids+=($!)
for _ in $(seq 300); do
  [ -f "$work/server.env" ] && [ -e "$work/ktx2" ] && break
  sleep 0.1
done
if [ ! -f "$work/server.env" ]; then
  echo "The bench server did not start:" >&2
  cat "$work/server.log" >&2
  exit 1
fi
set -a
. "$work/server.env"
set +a
[ ${#server_tls[@]} -eq 0 ] || echo "== Over TLS: $ZARVIK_SERVER, trusting $CURL_CA_BUNDLE"
cli=("$build/src/cli/zarvik-cli" --port "$work/ktx2")

echo
echo "== zarvik-cli find"
"${cli[@]}" find
echo
echo "== zarvik-cli --yes program --firmware 900"
status=0
"${cli[@]}" --yes program --firmware 900 || status=$?
echo "-> exit status $status"
echo
echo "== zarvik-cli --yes program-memories"
status=0
"${cli[@]}" --yes program-memories || status=$?
echo "-> exit status $status"
echo
echo "== zarvik-cli --yes upload-backups"
status=0
"${cli[@]}" --yes upload-backups || status=$?
echo "-> exit status $status"
echo
echo "== What the bench server heard (reports)"
grep '"valid|"' "$work/requests.log" | sed -n 's/.*"mode":\([0-9]\).*"tag":"\([^"]*\)".*/  valid| mode \1 tag "\2"/p' || true
ls -l "$work/uploads" 2>/dev/null | sed 's/^/  /' || true
