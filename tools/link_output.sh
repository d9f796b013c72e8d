#!/usr/bin/env bash
# Where the program's beats sound against a second Link peer's: the program
# on a private JACK server (dummy backend) at the given period, Link as its
# sync source and the metronome on, korvel-link-output listening to
# click_left as another peer of the session. Runs in a network namespace of
# its own with only the loopback interface up, so Link stays on this machine.
#   tools/link_output.sh BUILD_DIR [PERIOD] [SECONDS] [BPM]
set -uo pipefail
if [ -z "${KORVEL_LINK_NETNS:-}" ]; then
  # As root the namespace keeps root's rights (JACK's realtime threads).
  own=-rn; [ "$(id -u)" = 0 ] && unshare -n true 2>/dev/null && own=-n
  KORVEL_LINK_NETNS=1 exec unshare "$own" bash -c \
    'ip link set lo up && ip route add 224.0.0.0/4 dev lo && exec bash "$0" "$@"' "$0" "$@"
fi
build=$(cd "${1:?build directory}" && pwd)
period=${2:-256}
seconds=${3:-60}
bpm=${4:-97}
here=$(cd "$(dirname "$0")" && pwd)
source "$here/testenv.sh"
source "$here/xdrive.sh"
[ -z "${KORVEL_PRIVATE_SHM:-}" ] && korvel_private_shm "$0" "$@"
work=$(mktemp -d /tmp/korvel-link.XXXXXX)
program=""
cleanup() {
  korvel_end "$program"
  korvel_env_stop
  rm -rf "$work"
}
trap cleanup EXIT
KORVEL_JACK_PERIOD=$period korvel_env_start || exit 1
fail() { echo "link_output: $*" >&2; cat "$work/program.log" >&2; exit 1; }
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
SyncSource        = 3
RC
printf 'KorvelLoops WorkSpace File Ver 1\n0.5 0.5 1  0 0.2 0.01 1  0 1 0 -1 0 Time 120 4 0 1 0.5 0 0 0 0 3 ' >"$work/link.lws"
korvel_osc_program "$build" "$work/home" "$work/program.log" "$period" 3 "SyncSource        = 3"
program=$korvel_program
[ -n "$korvel_osc_port" ] || exit 1
port=$korvel_osc_port
oscsend localhost "$port" /load_session s "$work/link.lws" || fail "oscsend"
client=${KORVEL_JACK_CLIENT:-KorvelLoops}
"$build/tools/korvel-link-output" "$bpm" "$seconds" "$client:click_left" || fail "no measure"
grep "^JACK\|xrun\|[Dd]ropout" "$work/program.log" || true
