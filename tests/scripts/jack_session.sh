#!/usr/bin/env bash
# The program on a private JACK server (dummy backend), driven with xdotool:
# the live input plug-in records a tone that the project's probe client plays
# into the program's input; the loop is saved through a chooser held open for
# two seconds while the loop plays alone. Checks the ports and connections,
# that the loop holds the tone with no gap or repeat, and that the output the
# probe recorded is the loop's sound, sample for sample, through the chooser.
# Usage: jack_session.sh <build dir>
set -uo pipefail
build=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/tools/testenv.sh"
source "$root/tools/xdrive.sh"
started=0
if [ -z "${DISPLAY:-}" ] || [ -z "${JACK_DEFAULT_SERVER:-}" ]; then
  korvel_env_start || exit 1
  started=1
fi
work=$(mktemp -d /tmp/korvel-jack.XXXXXX)
program="" probe=""
cleanup() {
  [ -n "$program" ] && kill "$program" 2>/dev/null && wait "$program" 2>/dev/null
  [ -n "$probe" ] && kill "$probe" 2>/dev/null && wait "$probe" 2>/dev/null
  [ "$started" = 1 ] && korvel_env_stop
  [ -n "${KORVEL_KEEP:-}" ] && cp -r "$work" "$KORVEL_KEEP"
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; cat "$work/program.log" "$work/probe.log" 2>/dev/null; exit 1; }

mkdir -p "$work/home"
# 441 Hz at 44100 Hz: exactly 100 samples a period.
"$build/tools/korvel-jack-probe" 20 "$work/out.raw" tone 441 0.5 2>"$work/probe.log" &
probe=$!
HOME="$work/home" KORVEL_OUTPUT=jack "$build/KorvelLoops" >"$work/program.log" 2>&1 &
program=$!

main=$(wait_window "KorvelLoops 2.0.0") || fail "no main window"
for pair in left:system:playback_1 right:system:playback_2 input:system:capture_1; do
  jack_lsp -c "KorvelLoops:${pair%%:*}" | grep -qx "[[:space:]]*${pair#*:}" || fail "KorvelLoops:${pair%%:*} is not connected to ${pair#*:}"
done
echo "ok: ports KorvelLoops:left, right and input connected"

click "$main" 55 95 # "Load Plugin"
answer_chooser "Pick a plugin" "$build/plugins/LiveInput.so" || fail "no plug-in chooser"
input=$(wait_window "Live Input") || fail "no live input window"
xdotool windowmove "$input" 400 600 # off the main window
sleep 0.3
click "$main" 55 75 # "New Loop"
loop=$(wait_window "KorvelLoop 0") || fail "no loop window"
xdotool windowmove "$loop" 0 170
sleep 0.3
click "$loop" 105 207 # "Record" down
sleep 1.5
click "$loop" 105 207 # and up: the loop plays its take
click "$main" 55 115  # "Pause Plugin": the loop alone is heard
sleep 1
click "$loop" 195 225 # "Save"
opened=$(date +%s.%N)
sleep 2
answering=$(date +%s.%N)
answer_chooser "Save loop as Wav file" "$work/loop.wav" || fail "no save chooser"
sleep 0.5
closed=$(date +%s.%N)
close_window "$loop"
close_window "$input"
close_window "$main"
for i in $(seq 1 100); do kill -0 "$program" 2>/dev/null || break; sleep 0.1; done
wait "$program"
status=$?
program=""
[ "$status" = 1 ] || fail "the program ended with status $status"
grep "^JACK" "$work/program.log"
dropouts=$(sed -n 's/^JACK: \([0-9]*\) dropouts.*/\1/p' "$work/program.log")
kill "$probe" 2>/dev/null
wait "$probe" 2>/dev/null
probe=""
[ -s "$work/loop.wav" ] || fail "the loop was not saved"

# The take: the tone as the probe played it, every sample one period (100
# samples) after the same value, so nothing was left out or played twice;
# only a dropout (the machine too busy) leaves out a JACK period.
sox "$work/loop.wav" -t raw -e signed-integer -b 16 -L - | od -An -v -t d2 -w2 >"$work/loop.txt"
awk -v dropouts="${dropouts:-0}" '{ v[n++] = $1 } END {
  if (n < 44100) { print "FAIL: the take holds " n " samples"; exit 1 }
  for (i = 100; i < n; i++) {
    d = v[i] - v[i - 100]; if (v[i] > peak) peak = v[i]
    if (d > 1 || d < -1) { if (i - last > 100) breaks++; last = i }
  }
  printf "take: %d samples, peak %d, %d breaks, %d dropouts\n", n, peak, breaks, dropouts
  exit !(breaks <= dropouts && peak >= 16383 && peak <= 16385) }' "$work/loop.txt" || fail "the take is not the tone"

# The output while the chooser was open (from its opening to the Return that
# answers it, 0.7 s into answering; seconds before the loop's end): each
# sample is the loop's at the master volume (a half; the loop's own gains are
# 1 until its balance knob is moved), unbroken; a busy machine's dropout (a
# silent period, after which the loop goes on where it was) is let pass, a
# silence of 0.1 s is not. Saving, after it, is not judged here.
from=$(awk -v a="$opened" -v c="$closed" 'BEGIN { print int((c - a - 0.1) * 44100) }')
to=$(awk -v a="$answering" -v c="$closed" 'BEGIN { print int((c - a - 0.7) * 44100) }')
od -An -v -t d2 -w4 "$work/out.raw" | awk -v from="$from" -v to="$to" '
function expect(t) { return int(s[((t - start) % L + L) % L] / 2) }
function diff(a, b) { return a > b ? a - b : b - a }
FNR == NR { s[L++] = $1; next }
{ out[n++] = $1 }
END {
  for (e = n - 1; e > 0 && out[e] == 0; e--) ;
  b = e - from
  # The loop starts again where the tone breaks its 100-sample period.
  for (t = b + 100; t <= e - to && !wrap; t++) if (diff(out[t], out[t - 100]) > 1) wrap = t
  if (b < 100 || !wrap) { print "FAIL: no loop pass found in the output"; exit 1 }
  for (d = 0; d < 100; d++) {
    start = wrap - d
    for (t = start - 150; t < start + 150 && out[t] == expect(t); t++) ;
    if (t == start + 150) break
  }
  if (d == 100) { print "FAIL: the output is not the loop where it starts again"; exit 1 }
  for (t = b; t <= e - to; t++) {
    if (out[t] == expect(t)) { silent = 0; continue }
    for (z = 0; z < 256 && out[t + z] == 0; z++) ;
    if (z < 256) { bad++; continue }
    start += 256; t += 255; dropped++
    if ((silent += 256) > 4410) { print "FAIL: silent for more than 0.1 s"; exit 1 }
  }
  printf "output: %.2f s while the chooser was open, %d samples differ from the loop, %d dropouts\n", (from - to) / 44100, bad, dropped
  exit bad != 0 }' "$work/loop.txt" - || fail "the output broke while the chooser was open"
echo "PASS"
