#!/usr/bin/env bash
# A session of another looper's OSC client against the real program on a
# private X and JACK server, with liblo's oscsend and oscdump: ping, add a
# loop, load a sound, set and get its level, record (an overdub) and undo
# it with the state fed back, bad messages, save the session, delete the
# loop. Ports: the program takes the first free one from a random base and
# says which; oscdump a random free one.
# Usage: osc_session.sh <build dir>
set -uo pipefail
build=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/tools/testenv.sh"
source "$root/tools/xdrive.sh"
started=0
[ -z "${DISPLAY:-}" ] || [ -z "${JACK_DEFAULT_SERVER:-}" ] && korvel_private_shm "$0" "$@"
work=$(mktemp -d /tmp/korvel-osc.XXXXXX)
program="" dump=""
cleanup() {
  korvel_end "$program"
  korvel_end "$dump"
  [ "$started" = 1 ] && korvel_env_stop
  rm -rf "$work"
}
trap cleanup EXIT
if [ -z "${DISPLAY:-}" ] || [ -z "${JACK_DEFAULT_SERVER:-}" ]; then
  started=1
  korvel_env_start || exit 1
fi
[ -z "${KORVEL_PRIVATE_SHM:-}" ] && export KORVEL_JACK_CLIENT="KorvelLoops-$$"
fail() { echo "FAIL: $*"; cat "$work/program.log" "$work/dump.txt" 2>/dev/null; exit 1; }
# Waits (bounded) for a line matching $1 in file $2.
wait_line() {
  local i
  for i in $(seq 1 50); do grep -q -- "$1" "$2" 2>/dev/null && return 0; sleep 0.1; done
  return 1
}

for i in $(seq 1 20); do
  dport=$((40000 + RANDOM % 20000))
  korvel_spawn oscdump -L "osc.udp://:$dport" >"$work/dump.txt" 2>&1
  dump=$!
  sleep 0.3
  kill -0 "$dump" 2>/dev/null && break
  dump=""
done
[ -n "$dump" ] || fail "oscdump found no free port"
me="osc.udp://127.0.0.1:$dport/"

korvel_osc_program "$build" "$work/home" "$work/program.log" 256 0
program=$korvel_program
[ -n "$korvel_osc_port" ] || fail "the program did not start with its OSC server"
url=$korvel_osc_port
send() { oscsend localhost "$url" "$@" || fail "oscsend $*"; }

send /ping ss "$me" /pong
wait_line '/pong ssi "osc.udp://127.0.0.1:'"$url"'/" "2.0.0" 0' "$work/dump.txt" || fail "no answer to /ping"
echo "ok: /ping answered"

send /loop_add if 1 10
loop=$(wait_window "KorvelLoop 0") || fail "/loop_add made no loop"
send /korvel/loop/0/load s "$build/share/demo-loop.wav"
send /sl/0/register_update sss state "$me" /state
send /sl/0/register_auto_update siss loop_pos 50 "$me" /pos
wait_line '/state isf 0 "state" 4' "$work/dump.txt" || fail "the loaded loop is not said to play"
send /sl/0/set sf wet 0.5
send /sl/0/get sss wet "$me" /value
wait_line '/value isf 0 "wet" 0.5' "$work/dump.txt" || fail "wet did not read back as 0.5"
send /sl/0/get sss loop_len "$me" /value
wait_line '/value isf 0 "loop_len" 2.0' "$work/dump.txt" || fail "the loop is not 2 s long"
echo "ok: set and get the loop's level; its length"

send /sl/0/hit s record
wait_line '/state isf 0 "state" 5' "$work/dump.txt" || fail "record on a loop with sound does not overdub"
sleep 0.5
send /sl/0/hit s record
send /sl/0/unregister_auto_update sss loop_pos "$me" /pos
send /korvel/loop/0/get sss Record "$me" /value
wait_line '/value isf 0 "Record" 0.0' "$work/dump.txt" || fail "Record is still down"
# A fresh take on a second loop (of the JACK input's silence), then undone.
send /korvel/new_loop
wait_window "KorvelLoop 1" >/dev/null || fail "/korvel/new_loop made no loop"
send /sl/1/register_update sss state "$me" /state
send /sl/1/hit s record
wait_line '/state isf 1 "state" 2' "$work/dump.txt" || fail "the second loop does not record"
sleep 0.5
send /sl/1/hit s record
wait_line '/state isf 1 "state" 4' "$work/dump.txt" || fail "the take does not play"
send /sl/1/hit s undo
wait_line '/state isf 1 "state" 0' "$work/dump.txt" || fail "the take was not undone"
positions=$(grep -c '/pos isf 0 "loop_pos"' "$work/dump.txt")
[ "$positions" -ge 10 ] || fail "only $positions play positions came"
echo "ok: overdub, take and undo over OSC, state fed back, $positions positions"

# Bad messages: one line each at most, and the program answers on.
send /sl/99/hit s record
send /sl/0/set s wet
send /nowhere
send /sl/0/hit s multiply
send /ping ss "$me" /alive
wait_line '/alive ssi' "$work/dump.txt" || fail "no answer after bad messages"
for line in "/sl/99/hit: no loop 99" "/sl/0/set: wants s:control f:value" "/nowhere: unknown address" \
  '/sl/0/hit: no control "multiply"'; do
  grep -qF "OSC: $line" "$work/program.log" || fail "no line \"$line\""
done
echo "ok: bad messages said in one line each"

send /save_session sss "$work/set.lws" "$me" /error
wait_line . "$work/set.lws" || fail "the session was not saved"
[ -s "$work/setLoop0.wav" ] || fail "the loop's file was not saved"
send /loop_del i 0
for i in $(seq 1 50); do xdotool search --onlyvisible --name "^KorvelLoop 0\$" >/dev/null 2>&1 || break; sleep 0.1; done
xdotool search --onlyvisible --name "^KorvelLoop 0\$" >/dev/null 2>&1 && fail "/loop_del left the loop's window"
echo "ok: session saved, loop deleted"

close_window "$(wait_window "KorvelLoops 2.0.0")"
for i in $(seq 1 100); do kill -0 "$program" 2>/dev/null || break; sleep 0.1; done
wait "$program"
status=$?
program=""
[ "$status" = 1 ] || fail "the program ended with status $status"
echo "PASS"
