# Sourced by scripts that drive the program on an X server as a person would,
# with xdotool: find a window, click in it, answer a file chooser.

# Waits (bounded) for a window whose title matches exactly; prints its id.
wait_window() {
  local name=$1 id i
  for i in $(seq 1 100); do
    id=$(xdotool search --onlyvisible --name "^${name}\$" 2>/dev/null | head -n1)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  return 1
}

# Clicks at window coordinates.
click() {
  xdotool mousemove --window "$1" "$2" "$3" click 1
  sleep 0.3
}

# Answers an FLTK file chooser already open: pastes the path into its file
# name field and presses Enter. (Typing it key by key fights the chooser's
# completion.)
answer_chooser() {
  local title=$1 path=$2 id
  id=$(wait_window "$title") || return 1
  printf '%s' "$path" | xclip -quiet -selection clipboard >/dev/null 2>&1 &
  local owner=$!
  sleep 0.2
  xdotool mousemove --window "$id" 200 20
  sleep 0.3
  xdotool key ctrl+a ctrl+v
  sleep 0.3
  kill "$owner" 2>/dev/null
  wait "$owner" 2>/dev/null
  xdotool key Return
  sleep 0.5
}

# Closes a window as its close button would (Escape closes none of the
# program's windows); $build is the build directory.
close_window() {
  "$build/tools/korvel-xclose" "$1"
  sleep 0.5
}

# The program on JACK with its OSC server on a free port from a random base:
# writes HOME's resource file (the period as BufferSize, then FadeMs, then
# any extra lines; the lines are read by position, so none may be left
# out before the OSC server's), starts
# the program there with its output to the log, and waits for its main
# window and the server. Sets korvel_program (its process id) and
# korvel_osc_port; fails with the log on standard error.
#   korvel_osc_program BUILD HOME LOG PERIOD FADE_MS [LINE...]
korvel_osc_program() {
  local build=$1 home=$2 log=$3 period=$4 fade=$5 i
  shift 5
  mkdir -p "$home"
  {
    printf 'KorvelSound resource file\n\n'
    printf '%-17s = %s\n' BufferSize "$period" Samplerate 44100 WantMidi 0 FilterGranularity 50 \
      Output jack Midi /dev/midi WantRealtimeOut 1 Polyphony 1 UndoMemoryMB 128 CompensateLatency 1
    printf '%-17s = %s\n' FadeMs "$fade" OscPort $((20000 + RANDOM % 20000)) OscAddress 127.0.0.1
    [ $# -gt 0 ] && printf '%s\n' "$@"
  } >"$home/.KorvelLoopsrc"
  HOME="$home" korvel_spawn "$build/KorvelLoops" >"$log" 2>&1
  korvel_program=$!
  korvel_osc_port=""
  wait_window "KorvelLoops 2.0.0" >/dev/null || { echo "no main window" >&2; cat "$log" >&2; return 1; }
  for i in $(seq 1 50); do grep -q "OSC: listening on" "$log" && break; sleep 0.1; done
  korvel_osc_port=$(sed -n 's|^OSC: listening on osc.udp://127.0.0.1:\([0-9]*\)/$|\1|p' "$log")
  [ -n "$korvel_osc_port" ] || { echo "no OSC server" >&2; cat "$log" >&2; return 1; }
}
