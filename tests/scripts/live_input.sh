#!/usr/bin/env bash
# Records through the live input's capture, in PulseAudio's OSS emulation,
# while a known tone plays into a sink whose monitor is the capture source.
# Checks that the blocks carry the tone without gaps and that no block held
# the cycle up for longer than a block. Usage: live_input.sh <build dir>
set -uo pipefail
build=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)
driver="$build/tests/plugins/CaptureDriver"
[ -x "$driver" ] || { echo "FAIL: $driver is not built"; exit 1; }

started=0
if [ -z "${PULSE_SERVER:-}" ]; then
    source "$root/tools/testenv.sh"
    korvel_private_shm "$0" "$@"
    korvel_env_start
    started=1
fi
work=$(mktemp -d /tmp/korvel-live.XXXXXX)
player=""
module=""
cleanup() {
    [ -n "$player" ] && kill "$player" 2>/dev/null && wait "$player" 2>/dev/null
    [ -n "$module" ] && pactl unload-module "$module" 2>/dev/null
    [ "$started" = 1 ] && korvel_env_stop
    rm -rf "$work"
}
trap cleanup EXIT

blocks=260          # about three seconds at 512 frames and 44100 Hz
frequency=1000
amplitude=16384     # sox's "vol 0.5" of full scale
block_ms=11.6

# A sink of our own, so that other tests playing at the same time do not
# reach the capture.
sink="korvel_live_$$"
module=$(pactl load-module module-null-sink sink_name="$sink" rate=44100 channels=2) \
    || { echo "FAIL: cannot create a sink on $PULSE_SERVER"; exit 1; }

sox -n -r 44100 -c 2 -b 16 "$work/tone.wav" synth 10 sine "$frequency" vol 0.5 || exit 1
paplay --device="$sink" "$work/tone.wav" 2>"$work/paplay.log" &
player=$!
sleep 0.5

PULSE_SOURCE="$sink.monitor" LD_PRELOAD="$KORVEL_PULSEDSP" timeout 60 "$driver" /dev/dsp "$blocks" \
    "$work/capture.raw" >"$work/driver.out" 2>"$work/driver.err"
status=$?
cat "$work/driver.out"
if [ $status -ne 0 ]; then
    echo "FAIL: the capture driver exited with status $status"
    cat "$work/driver.err"
    exit 1
fi

# blocks N underruns U started_after S dropped D max_fill_ms F max_wait_ms W
read -r _ total _ underruns _ started_after _ dropped _ max_fill _ max_wait <"$work/driver.out"
failed=0
# The wait is bounded by half a block; 50 ms leaves room for a busy machine
# while still catching a read that waits for the device. PulseAudio's OSS
# emulation delivers recordings late and in bursts (a blocking read of it
# can wait for seconds), so this bound is what keeps the program playing.
if awk -v f="$max_fill" 'BEGIN { exit !(f >= 50) }'; then
    echo "FAIL: a block took $max_fill ms to fill (the bound is half a block, $max_wait ms)"
    failed=1
fi

# What arrived is the tone: right level, right frequency within each stretch
# of input, nothing else; and every block left silent was counted.
od -An -v -t d2 -w2 "$work/capture.raw" | awk -v amplitude="$amplitude" -v frequency="$frequency" \
    -v underruns="$((underruns + started_after))" -v block=512 '
function abs(x) { return x < 0 ? -x : x }
{ n++; v[n] = $1 }
END {
    failed = 0; peak = 0; stretch = 0; best = 0; bestEnd = 0; silentBlocks = 0
    for (i = 1; i <= n; i++) {
        if (abs(v[i]) > peak) peak = abs(v[i])
        # A stretch of input: no more than a few zeros in a row.
        if (v[i] != 0) { zeros = 0; stretch++ } else if (++zeros > 4) stretch = 0; else stretch++
        if (stretch > best) { best = stretch; bestEnd = i }
    }
    for (b = 0; b * block < n; b++) {
        silent = 1
        for (i = b * block + 1; i <= (b + 1) * block && i <= n; i++) if (v[i] != 0) { silent = 0; break }
        silentBlocks += silent
    }
    if (best < block) { print "FAIL: not even one block of input arrived (longest stretch " best ")"; exit 1 }
    crossings = 0
    for (i = bestEnd - best + 2; i <= bestEnd; i++)
        if ((v[i - 1] < 0 && v[i] >= 0) || (v[i - 1] >= 0 && v[i] < 0)) crossings++
    measured = crossings / 2 / (best / 44100)
    printf "input: %d of %d samples in the longest stretch, peak %d, %.1f Hz; %d silent blocks, %d underruns\n",
        best, n, peak, measured, silentBlocks, underruns
    if (abs(peak - amplitude) > amplitude * 0.05) { print "FAIL: peak " peak ", expected about " amplitude; failed = 1 }
    if (abs(measured - frequency) > frequency * 0.03) { print "FAIL: " measured " Hz, expected " frequency; failed = 1 }
    if (silentBlocks > underruns) { print "FAIL: " silentBlocks " silent blocks but only " underruns " underruns"; failed = 1 }
    exit failed
}' || failed=1

[ $failed -eq 0 ] && echo "PASS"
exit $failed
