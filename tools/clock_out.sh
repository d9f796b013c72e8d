#!/usr/bin/env bash
# Where the program's MIDI clock lands: the program on a private JACK server
# (dummy backend) at the given period (BufferSize the same), a workspace with
# a tempo and the clock out on loaded over OSC, jack_midi_dump on midi_out.
# Prints the clock ticks' spacing against the ideal grid.
#   tools/clock_out.sh BUILD_DIR [PERIOD] [SECONDS] [BPM]
set -uo pipefail
build=$(cd "${1:?build directory}" && pwd)
period=${2:-128}
seconds=${3:-10}
bpm=${4:-120}
here=$(cd "$(dirname "$0")" && pwd)
source "$here/testenv.sh"
source "$here/xdrive.sh"
[ -z "${KORVEL_PRIVATE_SHM:-}" ] && korvel_private_shm "$0" "$@"
work=$(mktemp -d /tmp/korvel-clock.XXXXXX)
program="" dump=""
cleanup() {
  korvel_end "$dump"
  korvel_end "$program"
  korvel_env_stop
  rm -rf "$work"
}
trap cleanup EXIT
KORVEL_JACK_PERIOD=$period korvel_env_start || exit 1
fail() { echo "clock_out: $*" >&2; cat "$work/program.log" >&2; exit 1; }
KorvelSound resource file

BufferSize        = $period
Samplerate        = 44100
WantMidi          = 0
FilterGranularity = 50
Output            = jack
Midi              = /dev/midi
WantRealtimeOut   = 1
Polyphony         = 1
UndoMemoryMB      = 128
CompensateLatency = 1
FadeMs            = 3
OscPort           = $((20000 + RANDOM % 20000))
OscAddress        = 127.0.0.1
RC
printf 'KorvelLoops WorkSpace File Ver 1\n0.5 0.5 1  0 0.2 0.01 1  0 1 0 -1 0 Time %s 4 0 1 0.5 0 1 0 0 0 ' "$bpm" >"$work/clock.lws"
korvel_osc_program "$build" "$work/home" "$work/program.log" "$period" 3
program=$korvel_program
[ -n "$korvel_osc_port" ] || exit 1
port=$korvel_osc_port
korvel_spawn jack_midi_dump -a dump >"$work/dump.txt" 2>&1
dump=$!
sleep 1
client=${KORVEL_JACK_CLIENT:-KorvelLoops}
jack_connect "$client:midi_out" dump:input || fail "cannot connect midi_out"
oscsend localhost "$port" /load_session s "$work/clock.lws" || fail "oscsend"
sleep "$seconds"
korvel_end "$dump"
dump=""
grep -m3 . "$work/dump.txt"
# A period JACK or the program dropped shifts every later tick; each spacing
# is checked on its own, and the shifted ones counted.
awk -v rate=44100 -v bpm="$bpm" -v period="$period" '
  /f8/ { n++; t[n] = $1 + 0 }
  END {
    if (n < 3) { print "clock_out: " n " ticks"; exit 1 }
    per = rate * 60 / bpm / 24; exact = 0; worst = 0
    for (i = 2; i <= n; i++) {
      ideal = int((i - 1) * per + 0.5) - int((i - 2) * per + 0.5)
      d = (t[i] - t[i - 1]) - ideal; if (d < 0) d = -d
      if (d == 0) exact++; else if (d > worst) worst = d
    }
    printf "clock_out: %d ticks at %s BPM, period %d: %d of %d spacings exact on the grid, the others off by up to %d frames\n",
           n, bpm, period, exact, n - 1, worst
  }' "$work/dump.txt"
grep "^JACK" "$work/program.log" || true
