#!/usr/bin/env bash
# A loop records a tone from PulseAudio's OSS emulation with no plug-in loaded.
# The emulation passes its input on in bursts of a second or two, most of it
# dropped as stale, so only the level of the saved take is judged.
set -uo pipefail
build=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/tools/testenv.sh"
started=0
[ -n "${DISPLAY:-}" ] && [ -n "${PULSE_SERVER:-}" ] || { korvel_private_shm "$0" "$@"; korvel_env_start && started=1 || exit 1; }
work=$(mktemp -d /tmp/korvel-capture.XXXXXX) player="" program="" module=""
trap 'kill $program $player 2>/dev/null; [ -n "$program$player" ] && wait $program $player; [ -n "$module" ] && pactl unload-module $module
  [ $started = 1 ] && korvel_env_stop; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; cat "$work/log"; exit 1; }
source "$root/tools/xdrive.sh"

module=$(pactl load-module module-null-sink sink_name=korvel_capture_$$ rate=44100 channels=2) || fail "no sink"
sox -n -r 44100 -c 2 -b 16 "$work/tone.wav" synth 60 sine 1000 vol 0.5 || exit 1
paplay --device=korvel_capture_$$ "$work/tone.wav" & player=$!
mkdir "$work/home"
HOME="$work/home" PULSE_SOURCE=korvel_capture_$$.monitor LD_PRELOAD="$KORVEL_PULSEDSP" "$build/KorvelLoops" \
  >"$work/log" 2>&1 & program=$!
main=$(wait_window "KorvelLoops 2.0.0") || fail "no main window"
click "$main" 55 75 # "New Loop"
loop=$(wait_window "KorvelLoop 0") || fail "no loop window"
sleep 1.5 # the emulation starts recording about a second late
click "$loop" 105 207 && sleep 4 && click "$loop" 105 207 # "Record" down and up
click "$loop" 195 225 # "Save"
answer_chooser "Save loop as Wav file" "$work/take.wav" || fail "no chooser to save the take"
peak=$(sox "$work/take.wav" -n stat 2>&1 | awk -F: '/Maximum amplitude/ { print $2 }')
echo "take: $(sox --i -D "$work/take.wav") s, peak $peak"
awk -v p="${peak:-0}" 'BEGIN { exit !(p > 0.45 && p < 0.55) }' || fail "the take's peak is $peak, not the tone's 0.5"
echo "PASS"
