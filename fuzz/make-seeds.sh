#!/usr/bin/env bash
# Builds the seed corpus of every harness into a folder (made at fuzz time,
# never committed): files the program writes itself, and WAV files in other
# shapes made by sox (other rates, stereo, other bit depths and encodings,
# extra chunks, and every other format the loops read), so the fuzzers start
# from real files.
# Usage: make-seeds.sh <fuzz build folder> <corpus folder>
set -euo pipefail
build=$1
out=$2
mkdir -p "$out/wav_loop" "$out/resource_file" "$out/workspace" "$out/midi_parser" "$out/midi_bindings"
"$build/fuzz/fuzz-seed-writer" "$out"

w=$out/wav_loop
tone() { sox -n -r "$1" "${@:3}" "$w/$2" synth 0.01 sine 440 vol 0.5; }
tone 8000 mono-8k.wav -c 1 -b 16
tone 22050 stereo-22k.wav -c 2 -b 16
tone 44100 mono-8bit.wav -c 1 -b 8
tone 44100 mono-24bit.wav -c 1 -b 24
tone 44100 mono-float.wav -c 1 -e floating-point -b 32
tone 8000 mono-ulaw.wav -c 1 -e u-law
tone 8000 quad-extensible.wav -c 4 -b 16
tone 8000 stereo-wavpcm.wav -t wavpcm -c 2 -b 16
tone 48000 stereo-24bit-48k.wav -c 2 -b 24
tone 44100 stereo.aiff -c 2 -b 16
tone 22050 mono.aifc -t aifc -c 1 -b 16
tone 48000 mono-24bit.flac -c 1 -b 24
tone 44100 stereo.ogg -c 2
tone 11025 mono.caf -c 1 -b 16
# Chunks other programs put between the format and the sound: a LIST chunk
# and a JUNK chunk.
le32() { printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 & 255)) $((($1 >> 8) & 255)) $((($1 >> 16) & 255)) $((($1 >> 24) & 255)); }
src=$w/mono-8k.wav
{
  head -c 4 "$src"
  printf "$(le32 $(($(stat -c %s "$src") - 8 + 8 + 14 + 8 + 6)))"
  tail -c +9 "$src" | head -c 28
  printf 'LIST'; printf "$(le32 14)"; printf 'INFOICMT\x02\x00\x00\x00a\x00'
  printf 'JUNK'; printf "$(le32 6)"; printf "junk!\\x00"
  tail -c +37 "$src"
} >"$w/mono-extra-chunks.wav"

r=$out/resource_file
sed 's/^Samplerate .*/Samplerate        = 0/' "$r/defaults" >"$r/zero-rate"
head -n 7 "$r/defaults" >"$r/truncated"
sed 's/= 512/= lots/' "$r/defaults" >"$r/word-for-number"

# A pedal and keys with running status, clock and a system exclusive between
# them; a bindings file of every kind and mode.
m=$out/midi_parser
printf '\xb0\x40\x7f\xf8\x40\x00' >"$m/pedal"
printf '\x90\x24\x64\x24\x00\xf0\x7e\x01\xf7\xc5\x03\xe0\x00\x40\xf2\x01\x02\x8f\x30\x10' >"$m/mixed"
printf '%s\n' '# mine' 'note 1 36 press loop 0 Record' 'cc 16 64 held loop 12 Record' \
  'pc 1 5 press main Main/New Loop' 'cc 1 7 set main Output/Volume' >"$out/midi_bindings/bindings"

# The workspace seeds come from the workspace harness's own writer, which
# needs the X server.
if [ -n "${DISPLAY:-}" ] && [ -x "$build/fuzz/fuzz-workspace-seeds" ]; then
  "$build/fuzz/fuzz-workspace-seeds" "$out/workspace"
  # The reader alone starts from the same files.
  mkdir -p "$out/workspace_reader"
  cp "$out/workspace/"* "$out/workspace_reader/"
fi
