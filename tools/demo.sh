#!/usr/bin/env bash
# An unattended performance, for machines with no display and for the
# end-to-end test: the real program on a private X server and PulseAudio null
# sink; a loop is created and the project's demo sample loaded into it through
# the GUI, a few seconds are played and recorded through the output panel's
# "Record", then the windows are closed.
#
#   tools/demo.sh BUILD_DIR [OUT_DIR]
#
# Leaves in OUT_DIR: recording.wav (the program's own recording),
# monitor.wav (what reached the sound server), screenshot.png, program.log
# and exit-status. Its last line names the recording and the screenshot.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?build directory}" && pwd)
out=${2:-$build/demo}
mkdir -p "$out"
out=$(cd "$out" && pwd)
sample="$build/share/demo-loop.wav"
[ -f "$sample" ] || { echo "demo: missing $sample (build the project first)" >&2; exit 1; }

source "$here/testenv.sh"
started_env=0
if [ -z "${DISPLAY:-}" ] || [ -z "${PULSE_SERVER:-}" ]; then
  korvel_private_shm "$0" "$@"
  korvel_env_start
  started_env=1
fi
program_pid=""
monitor_pid=""
cleanup() {
  [ -n "$monitor_pid" ] && kill "$monitor_pid" 2>/dev/null && wait "$monitor_pid" 2>/dev/null
  [ -n "$program_pid" ] && kill "$program_pid" 2>/dev/null && wait "$program_pid" 2>/dev/null
  [ "$started_env" = 1 ] && korvel_env_stop
  return 0
}
trap cleanup EXIT

fail() { echo "demo: $*" >&2; exit 1; }

source "$here/xdrive.sh"

home="$out/home"
mkdir -p "$home"
rm -f "$out/recording.wav" "$out/monitor.wav" "$out/screenshot.png" "$out/exit-status"

parecord --device="$KORVEL_SINK.monitor" --file-format=wav --rate=44100 --channels=2 "$out/monitor.wav" &
monitor_pid=$!

HOME="$home" LD_PRELOAD="$KORVEL_PULSEDSP" "$build/KorvelLoops" >"$out/program.log" 2>&1 &
program_pid=$!

main=$(wait_window "KorvelLoops 2.0.0") || fail "the main window did not appear"
click "$main" 55 75 # "New Loop"
loop=$(wait_window "KorvelLoop 0") || fail "no loop window"
xdotool windowmove "$loop" 0 170
sleep 0.3
click "$loop" 195 207 # "Load"
answer_chooser "Pick a Wav file to load" "$sample" || fail "no chooser to load the sample"
click "$loop" 22 287 # "Update": show the play cursor
sleep 2

click "$main" 785 105 # output "Record"
sleep 2 # the loop plays on while the chooser is open
answer_chooser "Pick a Wav file to save to" "$out/recording.wav" || fail "no chooser for the recording"
sleep 3
click "$main" 785 105 # "Record" again: the recording is closed
sleep 0.5

import -window root "$out/screenshot.png" 2>/dev/null || xwd -root -silent | convert xwd:- "$out/screenshot.png"

# Closing the loop's window keeps the loop for "Reopen Loop"; closing the
# main window ends the program.
"$build/tools/korvel-xclose" "$loop"
sleep 0.5
"$build/tools/korvel-xclose" "$main"
status=""
for i in $(seq 1 100); do
  if ! kill -0 "$program_pid" 2>/dev/null; then
    wait "$program_pid"
    status=$?
    break
  fi
  sleep 0.1
done
program_pid=""
[ -n "$status" ] || fail "the program did not end after its windows were closed"
echo "$status" >"$out/exit-status"
sleep 0.5
kill "$monitor_pid" 2>/dev/null
wait "$monitor_pid" 2>/dev/null
monitor_pid=""

echo "Demo finished (exit status $status). Recording: $out/recording.wav  Screenshot: $out/screenshot.png"
