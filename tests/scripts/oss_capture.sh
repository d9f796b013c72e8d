#!/usr/bin/env bash
# A loop records from PulseAudio's OSS emulation with no plug-in loaded: a
# tone plays into a sink whose monitor the program's /dev/dsp records; the
# loop's take, saved, holds it. The emulation passes its input on in bursts
# of a second or two, most of which the program drops as stale, so only the
# level is judged.
set -uo pipefail
build=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/tools/testenv.sh"
started=0
if [ -z "${DISPLAY:-}" ] || [ -z "${PULSE_SERVER:-}" ]; then
  korvel_private_shm "$0" "$@"
  korvel_env_start || exit 1
  started=1
fi
work=$(mktemp -d /tmp/korvel-capture.XXXXXX)
player="" program="" module=""
cleanup() {
  for pid in $program $player; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; done
  [ -n "$module" ] && pactl unload-module "$module" 2>/dev/null
  [ "$started" = 1 ] && korvel_env_stop
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; cat "$work/log"; exit 1; }
source "$root/tools/xdrive.sh"

sink="korvel_capture_$$"
module=$(pactl load-module module-null-sink sink_name="$sink" rate=44100 channels=2) || fail "no sink"
sox -n -r 44100 -c 2 -b 16 "$work/tone.wav" synth 60 sine 1000 vol 0.5 || exit 1
paplay --device="$sink" "$work/tone.wav" &
player=$!
mkdir "$work/home"
HOME="$work/home" PULSE_SOURCE="$sink.monitor" LD_PRELOAD="$KORVEL_PULSEDSP" "$build/KorvelLoops" >"$work/log" 2>&1 &
program=$!
main=$(wait_window "KorvelLoops 2.0.0") || fail "no main window"
click "$main" 55 75 # "New Loop"
loop=$(wait_window "KorvelLoop 0") || fail "no loop window"
sleep 1.5 # the emulation starts recording about a second late
click "$loop" 105 207 # "Record" down
sleep 4 # the emulation passes its input on every second or two
click "$loop" 105 207 # and up
click "$loop" 195 225 # "Save"
answer_chooser "Save loop as Wav file" "$work/take.wav" || fail "no chooser to save the take"
[ -s "$work/take.wav" ] || fail "the take was not saved"
grep -q "No OSS capture" "$work/log" && fail "no capture"
peak=$(sox "$work/take.wav" -n stat 2>&1 | awk -F: '/Maximum amplitude/ { print $2 }')
echo "take: $(sox --i -D "$work/take.wav") s, peak $peak"
awk -v p="$peak" 'BEGIN { exit !(p > 0.45 && p < 0.55) }' || fail "the take's peak is $peak, not the tone's 0.5"
echo "PASS"
