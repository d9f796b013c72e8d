#!/usr/bin/env bash
# The OSC figures of the README, on a private JACK server (dummy backend,
# 44100 Hz) at the period given, BufferSize equal to it: /ping round trips,
# the frames from a "set wet 0" to the silence at the output port, and
# floods of "set" messages at the rates given, with the dropouts the program
# counts.  Usage: osc_measure.sh <build dir> <period> [rate ...]
set -uo pipefail
[ $# -ge 2 ] || { echo "usage: $0 <build dir> <period> [rate ...]" >&2; exit 2; }
build=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
period=$2
shift 2
source "$root/tools/testenv.sh"
source "$root/tools/xdrive.sh"
korvel_private_shm "$0" "$build" "$period" "$@"
work=$(mktemp -d /tmp/korvel-oscm.XXXXXX)
program=""
cleanup() { korvel_end "$program"; korvel_env_stop; rm -rf "$work"; }
trap cleanup EXIT
KORVEL_JACK_PERIOD=$period korvel_env_start || exit 1
korvel_osc_program "$build" "$work/home" "$work/program.log" "$period" 0
program=$korvel_program
[ -n "$korvel_osc_port" ] || exit 1
port=$korvel_osc_port
oscsend localhost "$port" /loop_add if 1 10
wait_window "KorvelLoop 0" >/dev/null || exit 1
oscsend localhost "$port" /korvel/loop/0/load s "$build/share/demo-loop.wav"
sleep 1
probe="$build/tools/korvel-osc-probe"
"$probe" "$port" ping 200
"$probe" "$port" volume 30 KorvelLoops
# What the socket could not hold: the kernel's count of datagrams dropped.
drops() { awk -v p=":$(printf '%04X' "$port")" '$2 ~ p"$" { print $NF }' /proc/net/udp; }
for rate in "$@"; do
  before=$(drops)
  "$probe" "$port" flood "$rate" 5
  echo "  dropped by the socket: $(($(drops) - before))"
done
oscsend localhost "$port" /loop_del i 0
sleep 0.5
close_window "$(wait_window "KorvelLoops 2.0.0")"
for i in $(seq 1 100); do kill -0 "$program" 2>/dev/null || break; sleep 0.1; done
program=""
grep -E "^JACK|^OSC" "$work/program.log" | grep -v "^OSC: /sl/0/set" | head -20
