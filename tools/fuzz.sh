#!/usr/bin/env bash
# Builds the libFuzzer harnesses (clang, AddressSanitizer, UBSan) in
# build-fuzz/, gives each its seed corpus and runs it for a bounded time.
# Any finding fails the run; its input is kept under
# tests/data/fuzz-regressions/<harness>/, where the ordinary suite replays it.
# The workspace harness needs an X server: run under ./test, or after
# `source tools/testenv.sh; korvel_env_start`.
# Usage: tools/fuzz.sh [harness...]   (default: all)
KORVEL_FUZZ_SECONDS=${KORVEL_FUZZ_SECONDS:-45}
# The workspace harness builds windows for every input (a few dozen a second);
# workspace_reader covers the same reading thousands of times faster, so the
# window harness gets a short run only.
KORVEL_FUZZ_GUI_SECONDS=${KORVEL_FUZZ_GUI_SECONDS:-15}

set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=$root/build-fuzz
work=$build/fuzz-run

CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVEL_FUZZ=ON \
  -DKORVEL_BENCH=OFF >"$build.log" 2>&1 || { cat "$build.log"; exit 1; }

harnesses=("$@")
if [ ${#harnesses[@]} -eq 0 ]; then
  harnesses=(wav_loop resource_file workspace_reader midi_parser midi_bindings)
  grep -q fuzz-workspace "$build/build.ninja" && harnesses+=(workspace)
fi
targets=(fuzz-seed-writer)
for h in "${harnesses[@]}"; do targets+=("fuzz-${h//_/-}"); done
grep -q fuzz-workspace-seeds "$build/build.ninja" && targets+=(fuzz-workspace-seeds)
cmake --build "$build" -j2 --target "${targets[@]}" >>"$build.log" 2>&1 || { cat "$build.log"; exit 1; }

rm -rf "$work"
mkdir -p "$work/seeds"
bash fuzz/make-seeds.sh "$build" "$work/seeds" || exit 1

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
# Leaks of system libraries only (fontconfig's font cache, libvorbis on refused
# Ogg files); see the file.
export LSAN_OPTIONS=suppressions=$root/tests/lsan.supp
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
status=0
summary=""
for h in "${harnesses[@]}"; do
  corpus=$work/corpus/$h
  findings=$work/findings/$h
  kept=$root/tests/data/fuzz-regressions/$h
  mkdir -p "$corpus" "$findings"
  cp "$work/seeds/$h/"* "$corpus/" 2>/dev/null
  # Earlier findings start the corpus too, so a fix is checked before new ground.
  cp "$kept/"* "$corpus/" 2>/dev/null
  log=$work/$h.log
  seconds=$KORVEL_FUZZ_SECONDS
  [ "$h" = workspace ] && [ "$KORVEL_FUZZ_GUI_SECONDS" -lt "$seconds" ] && seconds=$KORVEL_FUZZ_GUI_SECONDS
  echo "== fuzzing $h for ${seconds}s"
  "$build/fuzz/fuzz-${h//_/-}" "$corpus" -max_total_time="$seconds" -timeout=20 \
    -rss_limit_mb=2048 -max_len=16384 -print_final_stats=1 -artifact_prefix="$findings/" >"$log" 2>&1
  rc=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n1)
  found=$(ls "$findings" 2>/dev/null)
  if [ $rc -ne 0 ] || [ -n "$found" ]; then
    status=1
    mkdir -p "$kept"
    for f in $found; do cp "$findings/$f" "$kept/$f"; done
    echo "FINDING in $h (exit $rc); kept in $kept: $found"
    grep -E "ERROR|Target:|runtime error|SUMMARY|Assertion" "$log" | head -n 20
  fi
  summary+="$h: ${runs:-?} executions in ${seconds}s (${rate:-?}/s), corpus $(ls "$corpus" | wc -l) files"$'\n'
done
printf "%s" "$summary"
exit $status
