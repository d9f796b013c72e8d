#!/bin/bash
# The whole program, as a performer runs it, with N fully loaded loops (one
# second of sound, filter, delay and reverb on, windows open, cursors drawn) on
# a private X server, its sound device stood in for by bench/OssShim.cpp.
#
#   bench/program_bench.sh [build dir] [loop counts...]
#
# Per N, one run unpaced (the stand-in takes every block at once) gives the
# cycles per second, the real-time factor and the program's CPU time per loop
# and block; one run paced at 44.1 kHz, the stand-in holding what the
# program's fragment request asked for, gives the late blocks (writes that
# found the device run dry) and the CPU time of the program and of the X
# server, in cores, and their ratio.
# KORVEL_BENCH_SECONDS sets the paced run's length (10), KORVEL_BENCH_WARMUP
# the blocks left out at the start of each run (100), while the windows map;
# KORVEL_BENCH_CYCLES the unpaced run's cycles (300).
set -u
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build}" && pwd)
shift
counts=("$@")
[ ${#counts[@]} -eq 0 ] && counts=(16 64 256 512)
seconds=${KORVEL_BENCH_SECONDS:-10}
warmup=${KORVEL_BENCH_WARMUP:-100}
program=$build/bench/korvel-program-bench
shim=$build/bench/libkorvel-oss-shim.so
[ -x "$program" ] && [ -f "$shim" ] || { echo "build korvel-program-bench and korvel-oss-shim first" >&2; exit 1; }

source "$here/tools/testenv.sh"
korvel_private_shm "$0" "$build" "${counts[@]}"
korvel_env_start
work=$(mktemp -d /tmp/korvel-bench.XXXXXX)
trap 'korvel_env_stop; rm -rf "$work"' EXIT
cat >"$work/.KorvelLoopsrc" <<RC
KorvelSound resource file

BufferSize        = 512
Samplerate        = 44100
WantMidi          = 0
FilterGranularity = 50
Output            = /dev/korvel-shim
Midi              = /dev/midi
WantRealtimeOut   = 1
Polyphony         = 1
RC

# run N paced cycles: appends the stand-in's report line to $work/report.
run() {
  HOME="$work" LD_PRELOAD="$shim" KORVEL_SHIM_DEVICE=/dev/korvel-shim KORVEL_SHIM_PACE="$2" \
    KORVEL_SHIM_WARMUP="$warmup" KORVEL_SHIM_WATCH="$KORVEL_XVFB_PID" KORVEL_SHIM_REPORT="$work/report" \
    "$program" "$1" "$3" >"$work/program.log" 2>&1 || { cat "$work/program.log" >&2; exit 1; }
}

printf '%6s %10s %9s %13s %8s %12s %10s %8s\n' loops cycles/s realtime "CPU/loop(us)" late "program CPU" "X CPU" "X/prog"
for n in "${counts[@]}"; do
  : >"$work/report"
  run "$n" 0 $((warmup + ${KORVEL_BENCH_CYCLES:-300}))
  run "$n" 1 $((warmup + seconds * 44100 / 512))
  awk -v n="$n" '
    NR == 1 { cps = $2 / $6; cpu = $8 / $2 / n * 1e6 }
    NR == 2 { late = $4 / $2; program = $8 / $6; x = $10 / $6 }
    END { printf "%6d %10.1f %9.2f %13.2f %7.2f%% %12.3f %10.3f %8.3f\n", n, cps, cps * 512 / 44100, cpu,
                 100 * late, program, x, (program > 0 ? x / program : 0) }
  ' "$work/report"
done
echo "(device held $(awk 'NR == 2 { print $12 }' "$work/report") bytes ahead; block 2048 bytes)"
