# Sourced after testenv.sh and xdrive.sh by the scripts that measure the
# program on a private JACK server from outside, as a performer hears it:
# the settings, the program started and ended, a loop given a sound.

# A resource file in home: block frames, WantMidi, and JACK's server as the
# output; a MIDI device that does not exist, so only JACK's port feeds MIDI.
korvel_write_rc() {
  mkdir -p "$1"
  cat >"$1/.KorvelLoopsrc" <<RC
KorvelSound resource file

BufferSize        = $2
Samplerate        = 44100
WantMidi          = $3
FilterGranularity = 50
Output            = jack:$JACK_DEFAULT_SERVER
Midi              = $1/no-midi-device
WantRealtimeOut   = 1
Polyphony         = 1
UndoMemoryMB      = 128
RC
}

# Starts the program with the home given, its output into $log; sets program
# (its pid) and main (its window). Where /dev/shm is shared, its client gets a name no other run uses.
korvel_start_loops() {
  [ -z "${KORVEL_PRIVATE_SHM:-}" ] && export KORVEL_JACK_CLIENT="KorvelLoops-$$"
  client=${KORVEL_JACK_CLIENT:-KorvelLoops}
  HOME="$1" korvel_spawn "$build/KorvelLoops" >"$log" 2>&1
  program=$!
  main=$(wait_window "KorvelLoops 2.0.0")
}

# A new loop (window off the main one) playing the sound file; sets loop.
korvel_loop_playing() {
  click "$main" 55 75 # "New Loop"
  loop=$(wait_window "KorvelLoop 0") || return 1
  xdotool windowmove "$loop" 0 170
  sleep 0.3
  click "$loop" 195 207 # "Load"
  answer_chooser "Pick a Wav file to load" "$1" || return 1
  sleep 1
}

# A steady sound with no silent sample: a square wave at half of full scale.
korvel_square_file() {
  sox -n -r 44100 -c 1 -b 16 "$1" synth 4 square 441 vol 0.5
}

# Closes the given windows, waits (bounded) for the program to end and
# prints its JACK lines; sets dropouts and xruns from the one it ends with.
korvel_quit_loops() {
  local window i
  for window in "$@"; do close_window "$window"; done
  for i in $(seq 1 100); do kill -0 "$program" 2>/dev/null || break; sleep 0.1; done
  korvel_end "$program"
  program=""
  grep "^JACK" "$log"
  dropouts=$(sed -n 's/^JACK: \([0-9]*\) dropouts.*/\1/p' "$log")
  xruns=$(sed -n 's/^JACK: .* reported \([0-9]*\) xruns.*/\1/p' "$log")
  [ -n "$dropouts" ]
}
