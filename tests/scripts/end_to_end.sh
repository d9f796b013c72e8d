#!/usr/bin/env bash
# A person's first session, end to end: start the program through PulseAudio's
# OSS emulation, make a loop, load a WAV file into it through the chooser, let
# it play, record the output from the output panel, close the windows. Then
# check what the sound server heard, the recording, the screenshot and the
# exit status.
set -uo pipefail
build=$(cd "${1:?build directory}" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)
out="$build/end-to-end"
rm -rf "$out"

bash "$root/tools/demo.sh" "$build" "$out" || { cat "$out/program.log" 2>/dev/null; exit 1; }

failures=0
check() {
  if eval "$2"; then echo "ok: $1"; else echo "FAILED: $1"; failures=$((failures + 1)); fi
}

# One channel's "sox stat" figure, as a number.
stat_of() { sox "$1" -n remix "$2" trim "$3" stat 2>&1 | awk -v key="$4" -F: '$1 ~ key {gsub(/ /, "", $2); print $2}'; }
within() { awk -v v="$1" -v lo="$2" -v hi="$3" 'BEGIN { exit !(v >= lo && v <= hi) }'; }

check "the program exits with status 1 after its last window closes" '[ "$(cat "$out/exit-status")" = 1 ]'
check "the recording is a stereo 44100 Hz WAV file" \
  '[ "$(sox --i -c "$out/recording.wav")" = 2 ] && [ "$(sox --i -r "$out/recording.wav")" = 44100 ]'
check "the recording holds about three seconds" 'within "$(sox --i -D "$out/recording.wav")" 2 5'

# The demo loop is a 440 Hz sine at half scale; the master volume halves it
# again and the loop's gains are 1 on both sides: peaks near 0.25 of full scale.
for channel in 1 2; do
  peak=$(stat_of "$out/recording.wav" $channel 0.5 "Maximum amplitude")
  freq=$(stat_of "$out/recording.wav" $channel 0.5 "Rough   frequency")
  check "recording channel $channel peaks near a quarter of full scale ($peak)" 'within "$peak" 0.24 0.26'
  check "recording channel $channel carries 440 Hz ($freq)" 'within "$freq" 420 460'
done

# What the sound server received through the OSS emulation: skip the start,
# before the loop was loaded, by looking at the loudest part.
for channel in 1 2; do
  peak=$(stat_of "$out/monitor.wav" $channel 0 "Maximum amplitude")
  check "the sound server heard channel $channel at the expected level ($peak)" 'within "$peak" 0.22 0.28'
done
# Its pitch: rising zero crossings per tenth of a second, over the tenths in
# which the loop was heard. The median, since the stream drops a few
# milliseconds whenever the machine holds the program up by more than the two
# blocks the device buffers ahead, and a chooser stops the cycle outright.
pitch=$(sox "$out/monitor.wav" -t raw -e signed-integer -b 16 -L -c 2 - | od -An -v -t d2 -w4 |
  awk '{ v = $1; a = v < 0 ? -v : v; if (a > peak) peak = a
         if (n > 0 && previous < 0 && v >= 0) crossings++
         previous = v; n++
         if (n % 4410 == 0) { if (peak > 4000) counts[k++] = crossings; crossings = 0; peak = 0 } }
       END { if (k == 0) { print 0; exit }
             for (i = 0; i < k; i++) for (j = i + 1; j < k; j++) if (counts[j] < counts[i]) { t = counts[i]; counts[i] = counts[j]; counts[j] = t }
             print counts[int(k / 2)] * 10 }')
check "the sound server heard 440 Hz ($pitch)" 'within "${pitch:-0}" 430 450'
# The output chooser was held open for two seconds while the loop played: no
# silence between the loop's first sound and its last beyond the emulation's
# own dropouts (up to about 0.2 s on a loaded machine).
silence=$(sox "$out/monitor.wav" -t raw -e signed-integer -b 16 -L -c 2 - | od -An -v -t d2 -w4 |
  awk '{ loud = $1 > 500 || $1 < -500; if (loud) { if (first && run > most) most = run; first = 1; run = 0 } else run++ }
       END { printf "%.2f", most / 44100 }')
check "no silence while the chooser was open (longest $silence s)" 'within "$silence" 0 0.5'

spread=$(convert "$out/screenshot.png" -format '%[fx:standard_deviation]' info: 2>/dev/null)
check "the screenshot shows something ($spread)" 'within "${spread:-0}" 0.01 1'
cp "$out/screenshot.png" "$build/end-to-end-screenshot.png" 2>/dev/null

[ "$failures" -eq 0 ]
