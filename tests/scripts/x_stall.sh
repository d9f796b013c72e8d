#!/usr/bin/env bash
# The sound goes on while the X server stands still: the program on a
# private JACK server (periods and blocks of 128 frames), one loop playing a
# steady sound with its cursor drawn ("Update"), the probe recording the
# output while the X server is stopped (SIGSTOP) for 3 s and continued.
# Fails on a silence longer than 5 ms in the output (a period is 2.9 ms) or on
# dropouts the program reports beyond the xruns the server reported (those
# are the machine too busy, at start-up as well). Usage: x_stall.sh <build dir>
set -uo pipefail
build=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/tools/testenv.sh"
source "$root/tools/xdrive.sh"
source "$root/tools/jackrun.sh"
# Servers of its own, always: it stops its X server.
korvel_private_shm "$0" "$@"
work=$(mktemp -d /tmp/korvel-xstall.XXXXXX)
log="$work/program.log"
program="" probe="" stall=""
cleanup() {
  [ -n "$KORVEL_XVFB_PID" ] && kill -CONT "$KORVEL_XVFB_PID" 2>/dev/null
  korvel_end "$program"
  korvel_end "$probe"
  [ -n "$stall" ] && wait "$stall" 2>/dev/null
  korvel_env_stop
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP
fail() { echo "FAIL: $*"; cat "$log" "$work/probe.log" 2>/dev/null; exit 1; }

KORVEL_JACK_PERIOD=128 korvel_env_start || exit 1
korvel_write_rc "$work/home" 128 0
korvel_square_file "$work/square.wav" || fail "sox made no sound file"
korvel_start_loops "$work/home" || fail "no main window"
korvel_loop_playing "$work/square.wav" || fail "no loop playing the sound"
click "$loop" 15 287 # "Update": the cursor is drawn

korvel_spawn "$build/tools/korvel-jack-probe" 7 "$work/out.raw" tone 441 0 2>"$work/probe.log"
probe=$!
for i in $(seq 1 100); do [ -e "$work/out.raw" ] && break; sleep 0.1; done
sleep 1.5
# The stop and its end in one process of their own: the X server goes on
# even if this script is killed meanwhile.
(kill -STOP "$KORVEL_XVFB_PID" || exit 1; sleep 3; kill -CONT "$KORVEL_XVFB_PID") &
stall=$!
wait "$stall" || fail "the X server could not be stopped"
stall=""
for i in $(seq 1 200); do kill -0 "$probe" 2>/dev/null || break; sleep 0.1; done
wait "$probe" || fail "the probe did not record"
probe=""
korvel_quit_loops "$loop" "$main" || fail "the program printed no JACK line at exit"

# A silence: frames in a row with both channels at zero.
od -An -v -t d2 -w4 "$work/out.raw" | awk -v dropouts="$dropouts" -v xruns="${xruns:-0}" '
{ n++; if ($1 == 0 && $2 == 0) { stretches += !run; if (++run > longest) longest = run } else run = 0 }
END {
  printf "x_stall: %.1f s recorded, %d silent stretches, the longest %d frames (%.1f ms); " \
    "the program: %d dropouts, %d xruns\n", n / 44100, stretches, longest, longest * 1000 / 44100, dropouts, xruns
  if (n < 6 * 44100) { print "FAIL: only " n " frames recorded"; exit 1 }
  if (longest > 220 || dropouts > xruns) {
    print "FAIL: the sound stopped while the X server was stopped"; exit 1 }
}' || exit 1
echo "PASS"
