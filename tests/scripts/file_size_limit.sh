#!/usr/bin/env bash
# The real program under a file-size limit of nothing at all, so that its
# first write to a file (the resource file it creates at start-up) goes past
# the limit: the write must fail like one onto a full disk, not end the
# program with SIGXFSZ. It starts, shows its window and ends normally.
set -uo pipefail
build=$(cd "${1:?build directory}" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)

started=0
if [ -z "${DISPLAY:-}" ] || [ -z "${PULSE_SERVER:-}" ]; then
  source "$root/tools/testenv.sh"
  korvel_env_start
  started=1
fi
work=$(mktemp -d /tmp/korvel-fsize.XXXXXX)
program=""
reader=""
cleanup() {
  [ -n "$program" ] && kill "$program" 2>/dev/null && wait "$program" 2>/dev/null
  [ -n "$reader" ] && wait "$reader" 2>/dev/null
  [ "$started" = 1 ] && korvel_env_stop
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; cat "$work/program.log" 2>/dev/null; exit 1; }

# Standard error goes through a pipe, which no file-size limit touches.
mkdir "$work/home"
mkfifo "$work/log"
cat "$work/log" >"$work/program.log" &
reader=$!
HOME="$work/home" LD_PRELOAD="$KORVEL_PULSEDSP" prlimit --fsize=0 "$build/KorvelLoops" >"$work/log" 2>&1 &
program=$!

main=""
for i in $(seq 1 100); do
  main=$(xdotool search --onlyvisible --name '^KorvelLoops 2.0.0$' 2>/dev/null | head -n1)
  [ -n "$main" ] || ! kill -0 "$program" 2>/dev/null && break
  sleep 0.1
done
[ -n "$main" ] || { wait "$program"; fail "no main window (exit status $?)"; }
xdotool mousemove --window "$main" 400 5 key Escape
for i in $(seq 1 100); do
  kill -0 "$program" 2>/dev/null || break
  sleep 0.1
done
wait "$program"
status=$?
program=""
[ "$status" = 1 ] || fail "exit status $status, not 1"
grep -q "^Creating $work/home/.KorvelLoopsrc$" "$work/program.log" || fail "no \"Creating\" line"
echo "ok: the program ran and ended normally under a file-size limit"
