#!/bin/bash
# The desktop user's side of the installed-system check: started by his login shell on the
# first console, so that what it runs is inside his logind session on seat0, as a person at
# the computer would run it. Runs each script the check drops into requests/ and leaves its
# output and status in done/.
dir=/run/zarvik-check
loginctl show-session "$XDG_SESSION_ID" -p Name -p Seat -p TTY -p Class -p Type -p Active \
  -p State >"$dir/done/session" 2>&1
id >>"$dir/done/session"
touch "$dir/done/ready"
while :; do
  for request in "$dir"/requests/*.sh; do
    [ -e "$request" ] || continue
    n=$(basename "$request" .sh)
    mv "$request" "$dir/done/$n.sh"
    bash "$dir/done/$n.sh" >"$dir/done/$n.out" 2>&1 </dev/null
    echo $? >"$dir/done/$n.part"
    mv "$dir/done/$n.part" "$dir/done/$n.rc"
  done
  sleep 0.2
done
