#!/usr/bin/env bash
# Measures the program on a private JACK server (dummy backend, 44100 Hz) at
# the period given, with BufferSize equal to it, from outside:
#
#   latency.sh <build dir> <period>        the round trip from
#       KorvelLoops:input to its output with the live input plug-in loaded
#       (monitored): the probe's clicks as they come back, jack_iodelay's
#       figure, and the round trip the program prints at start;
#   latency.sh <build dir> <period> midi   the frames from a note-on at
#       KorvelLoops:midi_in (bound to loop 0's Play, written to the bindings
#       file) to the change at the output, each note toggling the loop.
#
# The probe's figures are the program's own delay in JACK's graph (the probe
# plays before the program and records after it, in one cycle); jack_iodelay
# is one client, so its figure holds one period more of its own feedback.
set -uo pipefail
[ $# -ge 2 ] || { echo "usage: $0 <build dir> <period> [midi]" >&2; exit 2; }
build=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
period=$2 mode=${3:-audio}
source "$root/tools/testenv.sh"
source "$root/tools/xdrive.sh"
source "$root/tools/jackrun.sh"
korvel_private_shm "$0" "$@"
work=$(mktemp -d /tmp/korvel-latency.XXXXXX)
log="$work/program.log"
program="" probe="" iodelay=""
cleanup() {
  korvel_end "$program"
  korvel_end "$probe"
  korvel_end "$iodelay"
  korvel_env_stop
  [ -n "${KORVEL_KEEP:-}" ] && cp -r "$work" "$KORVEL_KEEP"
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP
fail() { echo "latency: $*" >&2; cat "$log" "$work/probe.log" >&2 2>/dev/null; exit 1; }

KORVEL_JACK_PERIOD=$period korvel_env_start || exit 1
korvel_write_rc "$work/home" "$period" "$([ "$mode" = midi ] && echo 1 || echo 0)"
echo "note 1 60 press loop 0 Play" >"$work/home/.KorvelLoopsMidi"
korvel_start_loops "$work/home" || fail "no main window"
grep "round trip" "$log" | sed 's/^/program says: /'
echo "JACK: period $period frames; system:playback_1 $(jack_lsp -l system:playback_1 | grep -o 'playback latency = \[[^]]*\]')"

# Probe's figures: offsets of the first frames louder than a small threshold
# after each event at frames from, from + every, ... (one second settles).
offsets() {
  od -An -v -t d2 -w4 "$work/out.raw" | awk -v every="$1" -v toggles="$2" '
  function loud(i) { return v[i] > 100 || v[i] < -100 }
  { v[n++] = $1 }
  END {
    for (e = every * int((44100 + every - 1) / every); e + every <= n; e += every) {
      # A click (or a note that starts the loop) is heard; a note that stops
      # it is followed by 64 frames of silence.
      want = !toggles || (e / every) % 2
      for (i = e; i < e + every; i++) {
        if (want && loud(i)) break
        if (!want) { for (q = 0; q < 64 && !loud(i + q); q++) ; if (q == 64) break }
      }
      if (i == e + every) { missed++; continue }
      d = i - e; list = list " " d; sum += d
      if (++count == 1 || d < min) min = d
      if (d > max) max = d
    }
    if (!count) { print "latency: nothing came back"; exit 1 }
    printf "probe: %d events, frames from each to the output:%s\n", count, list
    printf "probe: min %d, max %d, mean %.0f frames (%.1f to %.1f ms)%s\n", min, max, sum / count,
      min * 1000 / 44100, max * 1000 / 44100, missed ? ", " missed " missed" : ""
  }'
}

if [ "$mode" = midi ]; then
  korvel_square_file "$work/square.wav" || fail "sox made no sound file"
  korvel_loop_playing "$work/square.wav" || fail "no loop playing the sound"
  click "$loop" 270 287 # "Play" off: the first note starts it
  korvel_spawn "$build/tools/korvel-jack-probe" 6 "$work/out.raw" midi 11025 60 2>"$work/probe.log"
  probe=$!
  wait "$probe" || fail "the probe did not record"
  probe=""
  offsets 11025 1 || fail "no change at the output"
  korvel_quit_loops "$loop" "$main"
  exit 0
fi

click "$main" 55 95 # "Load Plugin"
answer_chooser "Pick a plugin" "$build/plugins/LiveInput.so" || fail "no plug-in chooser"
input=$(wait_window "Live Input") || fail "no live input window"
xdotool windowmove "$input" 400 600
korvel_spawn "$build/tools/korvel-jack-probe" 6 "$work/out.raw" click 11025 0.5 2>"$work/probe.log"
probe=$!
wait "$probe" || fail "the probe did not record"
probe=""
offsets 11025 0 || fail "no click came back"

korvel_spawn stdbuf -oL jack_iodelay >"$work/iodelay.log" 2>&1
iodelay=$!
for i in $(seq 1 50); do jack_lsp | grep -q '^jack_delay:in$' && break; sleep 0.1; done
jack_connect jack_delay:out "$client:input" && jack_connect "$client:left" jack_delay:in ||
  fail "jack_iodelay did not connect"
sleep 5
korvel_end "$iodelay"
iodelay=""
echo "jack_iodelay: $(grep 'total roundtrip' "$work/iodelay.log" | sort | uniq -c | sort -rn | head -3 |
  awk '{ printf "%s%s frames (%s ms) x%d", (NR > 1 ? "; " : ""), $2, $4, $1 }')"
korvel_quit_loops "$input" "$main"
