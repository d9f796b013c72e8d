#!/usr/bin/env bash
# The program's beats, as a second Link peer hears them through JACK: every
# bar's accent on the session's bar and the beats within a millisecond of
# the peer's (the median: a period the server loses moves a click by it).
# Usage: link_output.sh <build dir>
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
out=$("$root/tools/link_output.sh" "$1" 256 25 2>&1)
echo "$out" | tail -n 3
line=$(echo "$out" | grep "^link output:")
read -r clicks median onbar accents < <(echo "$line" |
  sed -n 's/^link output: \([0-9]*\) clicks.* median \([0-9.]*\) ms.*; \([0-9]*\) of \([0-9]*\) accents.*/\1 \2 \3 \4/p')
[ -n "${accents:-}" ] && [ "$clicks" -ge 15 ] && [ "$accents" -ge 3 ] && [ "$onbar" = "$accents" ] &&
  awk -v m="$median" 'BEGIN { exit !(m < 1) }' || {
  echo "FAIL: the program's beats are not on the Link session's"
  exit 1
}
