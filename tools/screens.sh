#!/usr/bin/env bash
# Screenshots of the windows in each state a loop can be in, for comparing two
# builds: the program on a private JACK server (dummy backend) and X server,
# the probe playing a tone into its input through the live-input plug-in;
# loop 0 holds the take and plays, overdubs, is muted and stopped, loop 1
# records a fresh take.
#   tools/screens.sh BUILD_DIR OUT_DIR [PROGRAM]
# PROGRAM (an older build's KorvelLoops) is run with BUILD_DIR's probe and plug-in.
# Leaves OUT_DIR/{playing,overdub,muted,stopped,recording}.png and program.log.
set -uo pipefail
build=$(cd "${1:?build directory}" && pwd)
mkdir -p "${2:?output directory}"
out=$(cd "$2" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
binary=${3:-$build/KorvelLoops}
source "$here/testenv.sh"
source "$here/xdrive.sh"
[ -z "${KORVEL_PRIVATE_SHM:-}" ] && korvel_private_shm "$0" "$@"
program="" probe=""
cleanup() {
  korvel_end "$program"
  korvel_end "$probe"
  korvel_env_stop
}
trap cleanup EXIT
korvel_env_start || exit 1
fail() { echo "screens: $*" >&2; exit 1; }
shot() {
  sleep 0.6
  import -window root -crop 940x640+0+0 "$out/$1.png" 2>/dev/null ||
    xwd -root -silent | convert xwd:- -crop 940x640+0+0 "$out/$1.png"
}

mkdir -p "$out/home"
korvel_spawn "$build/tools/korvel-jack-probe" 120 "$out/probe.raw" tone 441 0.5 2>"$out/probe.log"
probe=$!
HOME="$out/home" KORVEL_OUTPUT=jack korvel_spawn "$binary" >"$out/program.log" 2>&1
program=$!
main=$(wait_window "KorvelLoops 2.0.0") || fail "no main window"
xdotool windowmove "$main" 0 0
click "$main" 55 95 # "Load Plugin"
answer_chooser "Pick a plugin" "$build/plugins/LiveInput.so" || fail "no plug-in chooser"
input=$(wait_window "Live Input") || fail "no live input window"
xdotool windowmove "$input" 0 700
click "$main" 55 75 # "New Loop"
loop0=$(wait_window "KorvelLoop 0") || fail "no loop window"
xdotool windowmove "$loop0" 0 250
click "$main" 55 75
loop1=$(wait_window "KorvelLoop 1") || fail "no second loop window"
xdotool windowmove "$loop1" 320 250
sleep 0.5
click "$loop0" 105 207 # "Record": a fresh take of the tone
sleep 1.5
click "$loop0" 105 207
shot playing
click "$loop0" 105 207 # again: an overdub
shot overdub
click "$loop0" 105 207
# The volume slider pulled to the bottom: playing, unheard.
xdotool mousemove --window "$loop0" 70 104
sleep 0.2
xdotool mousedown 1
for y in 120 140 160 175; do
  sleep 0.1
  xdotool mousemove --window "$loop0" 70 $y
done
xdotool mouseup 1
shot muted
click "$loop0" 265 287 # "Play" off
shot stopped
click "$loop1" 105 207 # a fresh take in the empty loop
shot recording
click "$loop1" 105 207
# Newer builds: a tempo typed in (60 BPM), loop 0 quantized to the bar, its
# Play pressed: it waits for the bar line.
if [ -z "${3:-}" ]; then
  xdotool mousemove --window "$main" 70 200 click --repeat 3 1 type "60"
  xdotool key Return
  sleep 0.3
  click "$loop0" 35 335
  xdotool key Down Down Return
  sleep 0.3
  click "$loop0" 265 287
  shot waiting
fi
