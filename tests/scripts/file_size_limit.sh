#!/usr/bin/env bash
# The real program under a file-size limit of 0: its first write to a file
# (the resource file it creates at start-up) must fail as on a full disk, not
# end it with SIGXFSZ. It shows its window and ends normally. Needs the test
# X server and sound server (tools/testenv.sh).
set -uo pipefail
build=$(cd "${1:?build directory}" && pwd)
work=$(mktemp -d /tmp/korvel-fsize.XXXXXX)
program=""
trap 'kill $program 2>/dev/null; wait; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; cat "$work/log.txt"; exit 1; }

# Messages go through a pipe, which no file-size limit touches.
mkdir "$work/home" && mkfifo "$work/log" && { cat "$work/log" >"$work/log.txt" & }
HOME="$work/home" LD_PRELOAD="$KORVEL_PULSEDSP" prlimit --fsize=0 "$build/KorvelLoops" >"$work/log" 2>&1 &
program=$!
for i in $(seq 1 100); do
  main=$(xdotool search --onlyvisible --name '^KorvelLoops 2.0.0$' 2>/dev/null | head -n1)
  [ -n "$main" ] || ! kill -0 $program 2>/dev/null && break
  sleep 0.1
done
[ -n "$main" ] || { wait $program; fail "no main window (exit status $?)"; }
"$build/tools/korvel-xclose" "$main"
for i in $(seq 1 100); do kill -0 $program 2>/dev/null && sleep 0.1; done
kill -0 $program 2>/dev/null && fail "still running after its window was closed"
wait $program
status=$?
[ $status = 1 ] || fail "exit status $status, not 1"
grep -q "^Creating $work/home/.KorvelLoopsrc$" "$work/log.txt" || fail "no \"Creating\" line"
echo "ok: the program ran and ended normally under a file-size limit"
