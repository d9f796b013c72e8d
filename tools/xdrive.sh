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
