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
# On servers of its own, as root in a /dev/shm of its own.
[ -z "${DISPLAY:-}" ] || [ -z "${JACK_DEFAULT_SERVER:-}" ] && korvel_private_shm "$0" "$@"
work=$(mktemp -d /tmp/korvel-jack.XXXXXX)
program="" probe=""
cleanup() {
  korvel_end "$program"
  korvel_end "$probe"
  [ "$started" = 1 ] && korvel_env_stop
  [ -n "${KORVEL_KEEP:-}" ] && cp -r "$work" "$KORVEL_KEEP"
  rm -rf "$work"
}
trap cleanup EXIT
if [ -z "${DISPLAY:-}" ] || [ -z "${JACK_DEFAULT_SERVER:-}" ]; then
  started=1
  korvel_env_start || exit 1
fi
# Where /dev/shm is shared, a client name no other run uses.
[ -z "${KORVEL_PRIVATE_SHM:-}" ] && export KORVEL_JACK_CLIENT="KorvelLoops-$$"
client=${KORVEL_JACK_CLIENT:-KorvelLoops}
fail() { echo "FAIL: $*"; cat "$work/program.log" "$work/probe.log" 2>/dev/null; exit 1; }

mkdir -p "$work/home"
# The built-in settings with fades off: the output is checked sample for
# sample against the loop's sound, and a seam fade would change it there.
printf '%s\n' "KorvelSound resource file" "" "BufferSize        = 512" "Samplerate        = 44100" \
  "WantMidi          = 0" "FilterGranularity = 50" "Output            = /dev/dsp" "Midi              = /dev/midi" \
  "WantRealtimeOut   = 1" "Polyphony         = 1" "UndoMemoryMB      = 128" "CompensateLatency = 1" \
  "FadeMs            = 0" >"$work/home/.KorvelLoopsrc"
# 441 Hz at 44100 Hz: exactly 100 samples a period.
korvel_spawn "$build/tools/korvel-jack-probe" 40 "$work/out.raw" tone 441 0.5 2>"$work/probe.log"
probe=$!
HOME="$work/home" KORVEL_OUTPUT=jack korvel_spawn "$build/KorvelLoops" >"$work/program.log" 2>&1
program=$!

main=$(wait_window "KorvelLoops 2.0.0") || fail "no main window"
for pair in left:system:playback_1 right:system:playback_2 input:system:capture_1; do
  jack_lsp -c "$client:${pair%%:*}" | grep -qx "[[:space:]]*${pair#*:}" || fail "$client:${pair%%:*} is not connected to ${pair#*:}"
done
echo "ok: ports $client:left, right and input connected"

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
sleep 3
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
xruns=$(sed -n 's/^JACK: .* reported \([0-9]*\) xruns.*/\1/p' "$work/program.log")
kill "$probe" 2>/dev/null
wait "$probe" 2>/dev/null
probe=""
[ -s "$work/loop.wav" ] || fail "the loop was not saved"

# The take: the tone as the probe played it, every sample one period (100
# samples) after the same value, so nothing was left out or played twice;
# only a dropout or an xrun (the machine too busy) leaves out a JACK period.
sox "$work/loop.wav" -t raw -e signed-integer -b 16 -L - | od -An -v -t d2 -w2 >"$work/loop.txt"
awk -v dropouts="$((${dropouts:-0} + ${xruns:-0}))" '{ v[n++] = $1 } END {
  if (n < 44100) { print "FAIL: the take holds " n " samples"; exit 1 }
  for (i = 100; i < n; i++) {
    d = v[i] - v[i - 100]; if (v[i] > peak) peak = v[i]
    if (d > 1 || d < -1) { if (i - last > 100) breaks++; last = i }
  }
  printf "take: %d samples, peak %d, %d breaks, %d dropouts and xruns\n", n, peak, breaks, dropouts
  exit !(breaks <= dropouts && peak >= 16383 && peak <= 16385) }' "$work/loop.txt" || fail "the take is not the tone"

# The output while the chooser was open (from its opening to 0.3 s into
# answering it; the Return that answers it comes later): each sample is the
# loop's at the master volume (a half; the loop's own gains are 1 until its
# balance knob is moved), unbroken. A busy machine's dropout (a silent JACK
# period, after which the loop goes on where it was) is let pass, and so are
# as many late periods as the server reported xruns; a silence of 0.1 s is
# not. Saving is not judged here.
from=$(awk -v a="$opened" -v c="$closed" 'BEGIN { print int((c - a - 0.1) * 44100) }')
to=$(awk -v a="$answering" -v c="$closed" 'BEGIN { print int((c - a - 0.3) * 44100) }')
od -An -v -t d2 -w4 "$work/out.raw" | awk -v from="$from" -v to="$to" -v xruns="${xruns:-0}" '
function at(i) { return v[(i % L + L) % L] }
function breaks(x, y) { return x - y > 1 || y - x > 1 }
# From t towards t1, one step dir at a time, with out[t] the loop at t + o. A
# dropout (a silent period) moves the loop by the silence; a late cycle the
# server reports (a period played twice or not recorded) moves it seamlessly
# by whole periods.
function walk(t, t1, dir,   z, k, u) {
  for (; dir * (t1 - t) >= 0 && bad < 1000; t += dir) {
    if (out[t] == at(t + o)) { silent = 0; continue }
    for (z = 0; z < 256 && out[t + dir * z] == 0; z++) ;
    if (z == 256) {
      o -= dir * 256; t += dir * 255; dropped++
      if ((silent += 256) > 4410) long = 1
      continue
    }
    for (k = -256; k <= 256; k += 256) {
      for (u = 0; u < 300 && out[t + dir * u] == at(t + dir * u + o + k); u++) ;
      if (k && u == 300) break
    }
    if (k <= 256) { o += k; late++ } else bad++
  }
}
FNR == NR { v[L++] = int($1 / 2); next }
{ out[n++] = $1 }
END {
  for (e = n - 1; e > 0 && out[e] == 0; e--) ;
  b = e - from; f = e - to
  if (b < 150 || f <= b) { print "FAIL: no output while the chooser was open"; exit 1 }
  # The tone repeats every 100 samples, so the output is placed in the loop
  # where it breaks that period away from any dropout: the loop starting
  # again, a dropout during the take, or a late period. Each place where the
  # loop breaks its period is tried there, at one such place after another.
  best = -1
  for (t = b + 101; t <= f && best != 0; t++) {
    if (!breaks(out[t], out[t - 100]) || breaks(out[t - 1], out[t - 101])) continue
    zeros = 0
    for (u = t - 150; u < t + 150; u++) zeros += out[u] == 0
    if (zeros >= 10) continue
    for (p = 0; p < L; p++) {
      if (!breaks(at(p), at(p - 100)) || breaks(at(p - 1), at(p - 101))) continue
      bad = dropped = late = long = silent = 0
      o = p - t; walk(t, b, -1)
      o = p - t; silent = 0; walk(t + 1, f, 1)
      if (best < 0 || bad < best || bad == best && late < bestLate) {
        best = bad; bestDropped = dropped; bestLate = late; bestLong = long
      }
    }
    t += 300
  }
  if (best < 0) { print "FAIL: the output never breaks the tone where the loop starts again"; exit 1 }
  if (bestLong) { print "FAIL: silent for more than 0.1 s"; exit 1 }
  printf "output: %.2f s while the chooser was open, %d samples differ from the loop, %d dropouts, %d late periods\n", (f - b) / 44100, best, bestDropped, bestLate
  exit best != 0 || bestLate > xruns }' "$work/loop.txt" - || fail "the output broke while the chooser was open"
echo "PASS"
