#!/usr/bin/env bash
# Where a take lands, heard from outside as a performer hears it:
#
#   take_offset.sh <build dir> <period> [off] [bare]
#
# On a private JACK server at that period (BufferSize equal to it) loop A
# plays a click every second; the probe (korvel-jack-probe echo) is the only
# performer: it answers the one click of A between 2 s and 3 s with a quieter
# click, E = one period + 37 frames later, and tells JACK so. Loop B's
# "Record" is held for 0.8 s around that answer, so B holds it alone. Then,
# from the program's output: A's clicks are the loud ones, B's the quiet ones
# after the answer (which is heard as it is played, through the live input);
# L is their spacing, and the offset is b - m L - a for B's click b on lap m
# and a the click the answer followed: 0 when the take is placed back by the
# whole trip it made. Unplaced it is E and a block late: the loops record
# the input of the block before. "off" writes "CompensateLatency = 0"
# into the resource file. "bare" loads no plug-in: B records the input port
# itself (the answer is then not heard; the A click it followed is the one
# between 2 s and 3 s), and unplaced a take is E late.
set -uo pipefail
off="" bare=""
for word in "${@:3}"; do
  case "$word" in
    off) off=1 ;;
    bare) bare=1 ;;
    *) set -- ;;
  esac
done
if [ $# -lt 2 ]; then
  echo "usage: $0 <build dir> <period> [off] [bare]" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
period=$2
source "$root/tools/testenv.sh"
source "$root/tools/xdrive.sh"
source "$root/tools/jackrun.sh"
korvel_private_shm "$0" "$@"
work=$(mktemp -d /tmp/korvel-offset.XXXXXX)
log="$work/program.log"
program="" probe=""
cleanup() {
  korvel_end "$program"
  korvel_end "$probe"
  korvel_env_stop
  [ -n "${KORVEL_KEEP:-}" ] && cp -r "$work" "$KORVEL_KEEP"
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP
fail() { echo "take_offset: $*" >&2; exit 1; }
extra=37 delay=$((period + 37)) spacing=44100

KORVEL_JACK_PERIOD=$period korvel_env_start || exit 1
korvel_write_rc "$work/home" "$period" 0
[ -n "$off" ] && echo "CompensateLatency = 0" >>"$work/home/.KorvelLoopsrc"
korvel_start_loops "$work/home" || fail "no main window"
for port in left right input; do
  for peer in $(jack_lsp -c "$client:$port" | sed -n 's/^ \+//p'); do
    jack_disconnect "$client:$port" "$peer" || fail "could not disconnect $client:$port from $peer"
  done
done

# A: one click at 0.9 of full scale (heard at half that), then a second's silence.
printf '\x33\x73' | sox -t raw -r 44100 -e signed -b 16 -c 1 - "$work/click.wav" pad 0 $((spacing - 1))s ||
  fail "sox made no click file"
korvel_loop_playing "$work/click.wav" || fail "no loop playing the click"
input=""
if [ -z "$bare" ]; then
  click "$main" 55 95 # "Load Plugin"
  answer_chooser "Pick a plugin" "$build/plugins/LiveInput.so" || fail "no plug-in chooser"
  input=$(wait_window "Live Input") || fail "no live input window"
  xdotool windowmove "$input" 400 600
fi
click "$main" 55 75 # "New Loop"
take=$(wait_window "KorvelLoop 1") || fail "no second loop"
xdotool windowmove "$take" 700 170
sleep 0.3
xdotool mousemove --window "$take" 105 207 # over its "Record"

korvel_spawn "$build/tools/korvel-jack-probe" 7 "$work/out.raw" echo "$extra" 0.2 0.3 2 3 2>"$work/probe.log"
probe=$!
# The first click heard sets the clock: the answered click is the first from
# 2 s on, and the take spans 0.4 s each side of its answer (less than A's
# second between clicks, far more than the clock's and the clicks' jitter).
first=""
for _ in $(seq 1 100); do
  first=$(sed -n 's/^probe: click at \([0-9]*\)$/\1/p' "$work/probe.log" | head -n1)
  [ -n "$first" ] && break
  sleep 0.02
done
[ -n "$first" ] || fail "the probe heard no click of loop A"
read -r press release < <(awk -v f="$first" -v now="$(date +%s.%N)" -v e="$delay" -v p="$spacing" 'BEGIN {
  a = f + p * int((2 * 44100 - f + p - 1) / p); t = now + (a + e - f) / 44100
  printf "%.3f %.3f\n", t - 0.4, t + 0.4 }')
wait_until() { sleep "$(awk -v t="$1" -v now="$(date +%s.%N)" 'BEGIN { print (t > now ? t - now : 0) }')"; }
wait_until "$press"
xdotool click 1
wait_until "$release"
xdotool click 1
# What the program reads as the performer's delay, and the shift it said last
# (it follows the connections) it places takes back by, else its round trip.
roundtrip=$(sed -n 's/.*placed back by \([0-9]*\).*/\1/p' "$log" | tail -n1)
[ -n "$roundtrip" ] || roundtrip=$(sed -n 's/.*round trip \([0-9]*\).*/\1/p' "$log" | tail -n1)
echo "JACK: $client:input $(jack_lsp -l "$client:input" | grep -o 'capture latency = \[[^]]*\]')"
wait "$probe"
recorded=$?
probe=""
korvel_quit_loops "$take" "$loop" ${input:+"$input"} "$main"
[ "${dropouts:-0}${xruns:-0}" = 00 ] || echo "take_offset: $dropouts dropouts and $xruns xruns: the figure may be off" >&2
[ "$recorded" = 0 ] || fail "the probe did not record cleanly: $(tail -n1 "$work/probe.log")"

od -An -v -t d2 -w4 "$work/out.raw" | awk -v delay="$delay" -v R="${roundtrip:-none}" -v bare="${bare:-0}" '
  function fail(why) { print "take_offset: " why > "/dev/stderr"; failed = 1; exit 1 }
  { f = NR - 1; v = $1 }
  v < 1000 { next }
  # The first sound is A alone; an A click with a B click on it is louder.
  !level { level = v }
  v >= 0.75 * level { a[na++] = f }
  v < 0.75 * level || v > level + 1000 { b[nb++] = f }
  END {
    if (failed) exit 1
    if (!nb) fail("no answer and no click of loop B in the output")
    # The first quiet click is the answer itself, monitored; the A click before it is the one it answered.
    # Bare, the answer is not heard: the answered click is the one in the echo window.
    if (bare) {
      for (i = 0; i < na; i++) if (a[i] >= 2 * 44100 && a[i] < 3 * 44100) from = a[i]
      for (i = nb; i > 0; i--) b[i] = b[i - 1]
      nb++
    } else {
      for (i = 0; i < na && a[i] < b[0]; i++) from = a[i]
      if (b[0] - from != delay) fail("the answer came " b[0] - from " frames after a click of A, not " delay)
    }
    if (nb < 4) fail("loop B played " nb - 1 " clicks, too few to tell its length")
    L = b[2] - b[1]
    for (i = 2; i < nb; i++) if (b[i] - b[i - 1] != L) fail("loop B clicks " b[i] - b[i - 1] " frames apart, not " L)
    m = int((b[1] - from) / L + 0.5)
    printf "take offset: %d frames (L = %d, R the program printed = %s)\n", b[1] - L * m - from, L, R
  }'
