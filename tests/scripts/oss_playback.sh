#!/usr/bin/env bash
# Plays a known tone through Output into PulseAudio's OSS emulation and checks,
# from a recording of the null sink, that it arrived on both channels at the
# level the master volume gives it. Usage: oss_playback.sh <build dir>
set -uo pipefail
build=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)
tone="$build/tools/korvel-tone"
[ -x "$tone" ] || { echo "FAIL: $tone is not built"; exit 1; }

started=0
if [ -z "${PULSE_SERVER:-}" ]; then
    source "$root/tools/testenv.sh"
    korvel_env_start
    started=1
fi
work=$(mktemp -d /tmp/korvel-oss.XXXXXX)
recorder=""
module=""
cleanup() {
    [ -n "$recorder" ] && kill "$recorder" 2>/dev/null && wait "$recorder" 2>/dev/null
    [ -n "$module" ] && pactl unload-module "$module" 2>/dev/null
    [ "$started" = 1 ] && korvel_env_stop
    rm -rf "$work"
}
trap cleanup EXIT

blocks=172          # about two seconds at 512 frames and 44100 Hz
frequency=440
amplitude=16000     # before the master volume of 0.5
expected_peak=8000

# A sink of our own, so that other tests playing at the same time do not
# reach the capture.
sink="korvel_tone_$$"
module=$(pactl load-module module-null-sink sink_name="$sink" rate=44100 channels=2) \
    || { echo "FAIL: cannot create a sink on $PULSE_SERVER"; exit 1; }

parecord --device="$sink.monitor" --file-format=wav --rate=44100 --channels=2 \
    --format=s16le "$work/capture.wav" 2>"$work/parecord.log" &
recorder=$!
sleep 0.5

PULSE_SINK="$sink" LD_PRELOAD="$KORVEL_PULSEDSP" timeout 30 "$tone" "$blocks" "$frequency" "$amplitude" \
    >"$work/tone.out" 2>"$work/tone.err"
status=$?
if [ $status -ne 0 ]; then
    echo "FAIL: korvel-tone exited with status $status"
    cat "$work/tone.out" "$work/tone.err"
    exit 1
fi

sleep 0.5
kill -INT "$recorder"
wait "$recorder" 2>/dev/null
recorder=""

[ -s "$work/capture.wav" ] || { echo "FAIL: nothing captured"; cat "$work/parecord.log"; exit 1; }
echo "captured: $(sox --i -c "$work/capture.wav") channels, $(sox --i -r "$work/capture.wav") Hz," \
    "$(sox --i -D "$work/capture.wav") s"

# One line per frame: left right. From where the tone starts, each tenth of a
# second is measured per channel: peak, RMS and rising zero crossings. The
# medians are judged, since the stream may drop a few milliseconds when the
# machine holds the player up by more than the two blocks the device
# buffers ahead.
sox "$work/capture.wav" -t raw -e signed-integer -b 16 -L -c 2 - | od -An -v -t d2 -w4 >"$work/frames.txt"
awk -v expected="$expected_peak" -v frequency="$frequency" '
function abs(x) { return x < 0 ? -x : x }
function median(list, count,    i, j, t) {
    for (i = 0; i < count; i++) for (j = i + 1; j < count; j++) if (list[j] < list[i]) { t = list[i]; list[i] = list[j]; list[j] = t }
    return list[int(count / 2)]
}
{
    n++; left[n] = $1; right[n] = $2
    if (!start && (abs($1) > 1000 || abs($2) > 1000)) start = n
}
END {
    if (!start) { print "FAIL: no tone in the capture"; exit 1 }
    from = start + 4410
    tenths = int((n - from) / 4410) - 2
    if (tenths < 10) { print "FAIL: tone shorter than a second (" n - start " frames)"; exit 1 }
    failed = 0
    for (c = 1; c <= 2; c++) {
        for (w = 0; w < tenths; w++) {
            peak = 0; sum = 0; crossings = 0
            for (i = from + w * 4410; i < from + (w + 1) * 4410; i++) {
                v = (c == 1) ? left[i] : right[i]
                if (abs(v) > peak) peak = abs(v)
                sum += v * v
                previous = (c == 1) ? left[i - 1] : right[i - 1]
                if (previous < 0 && v >= 0) crossings++
            }
            peaks[w] = peak; levels[w] = sqrt(sum / 4410); counts[w] = crossings * 10
        }
        peak = median(peaks, tenths); rms = median(levels, tenths); hz = median(counts, tenths)
        name = (c == 1) ? "left" : "right"
        printf "%s: over %d tenths, median peak %d, rms %.1f, %d rising zero crossings per second\n", name, tenths, peak, rms, hz
        if (peak < expected * 0.9 || peak > expected * 1.1) { print "FAIL: " name " peak"; failed = 1 }
        if (rms < expected / sqrt(2) * 0.9 || rms > expected / sqrt(2) * 1.1) { print "FAIL: " name " rms"; failed = 1 }
        if (hz < frequency - 10 || hz > frequency + 10) { print "FAIL: " name " frequency"; failed = 1 }
    }
    exit failed
}' "$work/frames.txt" || exit 1
echo "PASS"
