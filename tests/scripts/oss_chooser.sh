#!/usr/bin/env bash
# Through PulseAudio's OSS emulation: a loop plays the demo sample while a
# file chooser is held open for two seconds; what reached the sound server
# has no silent stretch from the loop's first sound to its last.
# Usage: oss_chooser.sh <build dir>
set -uo pipefail
build=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/tools/testenv.sh"
source "$root/tools/xdrive.sh"
started=0
if [ -z "${DISPLAY:-}" ] || [ -z "${PULSE_SERVER:-}" ]; then
  korvel_env_start || exit 1
  started=1
fi
work=$(mktemp -d /tmp/korvel-ossc.XXXXXX)
program="" recorder="" module=""
cleanup() {
  [ -n "$program" ] && kill "$program" 2>/dev/null && wait "$program" 2>/dev/null
  [ -n "$recorder" ] && kill "$recorder" 2>/dev/null && wait "$recorder" 2>/dev/null
  [ -n "$module" ] && pactl unload-module "$module" 2>/dev/null
  [ "$started" = 1 ] && korvel_env_stop
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; cat "$work/program.log" 2>/dev/null; exit 1; }

sink="korvel_chooser_$$"
module=$(pactl load-module module-null-sink sink_name="$sink" rate=44100 channels=2) || fail "no sink"
parecord --device="$sink.monitor" --rate=44100 --channels=2 --format=s16le --raw "$work/monitor.raw" &
recorder=$!
mkdir -p "$work/home"
HOME="$work/home" PULSE_SINK="$sink" LD_PRELOAD="$KORVEL_PULSEDSP" "$build/KorvelLoops" >"$work/program.log" 2>&1 &
program=$!

main=$(wait_window "KorvelLoops 2.0.0") || fail "no main window"
click "$main" 55 75 # "New Loop"
loop=$(wait_window "KorvelLoop 0") || fail "no loop window"
xdotool windowmove "$loop" 0 170
sleep 0.3
click "$loop" 195 207 # "Load"
answer_chooser "Pick a Wav file to load" "$build/share/demo-loop.wav" || fail "no load chooser"
sleep 1
click "$loop" 195 225 # "Save", held open two seconds, then cancelled
wait_window "Save loop as Wav file" >/dev/null || fail "no save chooser"
sleep 2
xdotool key Escape
sleep 1
close_window "$loop"
close_window "$main"
for i in $(seq 1 100); do kill -0 "$program" 2>/dev/null || break; sleep 0.1; done
program=""
sleep 0.5
kill -INT "$recorder"
wait "$recorder" 2>/dev/null
recorder=""

# The longest run of near-silent frames between the first and the last sound.
# The emulation itself drops up to about 0.2 s on a loaded machine; a held
# cycle would leave the two seconds of the chooser.
od -An -v -t d2 -w4 "$work/monitor.raw" | awk '
function abs(x) { return x < 0 ? -x : x }
{ n++; loud = abs($1) > 500 || abs($2) > 500
  if (loud) { if (first && run > longest) longest = run; first = first ? first : n; run = 0 } else run++ }
END {
  if (!first) { print "FAIL: nothing was heard"; exit 1 }
  printf "longest silence between the first and the last sound: %.3f s\n", longest / 44100
  exit !(longest < 0.5 * 44100) }' || fail "the sound stopped while the chooser was open"
echo "PASS"
