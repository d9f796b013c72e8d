#!/usr/bin/env bash
# The MIDI clock the program sends, as another JACK client (jack_midi_dump)
# receives it: every tick at its frame on the grid, at a tempo whose ticks
# fall between frames. Usage: clock_out.sh <build dir>
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
out=$("$root/tools/clock_out.sh" "$1" 128 4 133 2>&1)
echo "$out" | tail -n 3
# A busy machine may drop a period, which shifts the ticks after it: nearly
# every spacing must still be exact.
line=$(echo "$out" | grep "ticks at 133 BPM")
exact=$(echo "$line" | sed -n 's/.*: \([0-9]*\) of \([0-9]*\) spacings exact.*/\1/p')
all=$(echo "$line" | sed -n 's/.*: \([0-9]*\) of \([0-9]*\) spacings exact.*/\2/p')
[ -n "$exact" ] && [ "$all" -ge 150 ] && [ $((exact * 100)) -ge $((all * 95)) ] || {
  echo "FAIL: the clock's ticks are off the grid"
  exit 1
}
