#!/usr/bin/env bash
# The program's beats, as a second Link peer hears them through JACK: every
# bar's accent on the session's bar and the beats within a millisecond of
# the peer's. Usage: link_output.sh <build dir>
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
out=$("$root/tools/link_output.sh" "$1" 256 25 2>&1)
echo "$out" | tail -n 3
line=$(echo "$out" | grep "^link output:")
read -r clicks mean onbar accents < <(echo "$line" |
  sed -n 's/^link output: \([0-9]*\) clicks.* mean \([-0-9.]*\) ms.*; \([0-9]*\) of \([0-9]*\) accents.*/\1 \2 \3 \4/p')
[ -n "${accents:-}" ] && [ "$clicks" -ge 15 ] && [ "$accents" -ge 3 ] && [ "$onbar" = "$accents" ] &&
  awk -v m="$mean" 'BEGIN { exit !(m < 1 && m > -1) }' || {
  echo "FAIL: the program's beats are not on the Link session's"
  exit 1
}
