# Sourced by ./test and ./run: a private X server (Xvfb), a private
# PulseAudio server whose default sink is a null sink, and a private JACK
# server on the dummy backend, so the program can be seen, driven and heard
# on a machine with no display and no sound card. korvel_env_start exports
# DISPLAY, PULSE_SERVER, KORVEL_PULSEDSP, KORVEL_SINK, JACK_DEFAULT_SERVER
# and JACK_NO_START_SERVER; korvel_env_stop stops only what korvel_env_start
# started, by process id. A failed start stops what it had started, and the
# servers get a signal from the kernel when the shell that started them dies
# (setpriv --pdeathsig), so no exit path leaves one behind.

KORVEL_ENV_DIR=""
KORVEL_XVFB_PID=""
KORVEL_PULSE_PID=""
KORVEL_JACK_PID=""

# JACK names a client's sockets in /dev/shm after the client and the user,
# not the server, so clients of one name on two servers (this run's and
# another's) unlink each other's. As root, a script calls this first, with
# its own path and arguments: it runs again in a mount namespace of its own
# with a /dev/shm of its own, which goes when the run ends. Elsewhere it
# returns and the run shares /dev/shm.
korvel_private_shm() {
  # The mark names the shell that runs again, so a script it starts is not
  # taken for it.
  [ "${KORVEL_PRIVATE_SHM:-}" = "$$" ] && return 0
  [ "$(id -u)" = 0 ] && unshare -m true 2>/dev/null || return 0
  exec unshare -m --propagation private bash -c \
    'export KORVEL_PRIVATE_SHM=$$
     mount -t tmpfs -o mode=1777 tmpfs /dev/shm || echo "testenv: /dev/shm is shared with other runs" >&2
     exec bash "$0" "$@"' "$@"
}

# Runs a server in the background, ended by the kernel if this shell dies.
korvel_spawn() {
  setpriv --pdeathsig TERM "$@" &
}

# Whether a JACK server answers (the default one, or JACK_DEFAULT_SERVER),
# without starting one.
korvel_jack_answers() {
  JACK_NO_START_SERVER=1 timeout 10 "$@" jack_lsp >/dev/null 2>&1
}

# A JACK server of our own: dummy backend, private name, 44100 Hz, periods
# of KORVEL_JACK_PERIOD frames (256 when unset).
korvel_jack_start() {
  local name="korvel-$$-$RANDOM" i
  # Nothing in /dev/shm is removed here: another run's server may be alive.
  # A run in its own /dev/shm (korvel_private_shm) starts with it empty.
  korvel_spawn jackd -n "$name" -d dummy -r 44100 -p "${KORVEL_JACK_PERIOD:-256}" >"$KORVEL_ENV_DIR/jackd.log" 2>&1
  KORVEL_JACK_PID=$!
  export JACK_DEFAULT_SERVER="$name" JACK_NO_START_SERVER=1
  for i in $(seq 1 100); do
    korvel_jack_answers && return 0
    kill -0 "$KORVEL_JACK_PID" 2>/dev/null || break
    sleep 0.1
  done
  echo "testenv: the JACK server did not start:" >&2
  cat "$KORVEL_ENV_DIR/jackd.log" >&2
  return 1
}

korvel_pulsedsp_path() {
  local arch
  arch=$(gcc -print-multiarch 2>/dev/null || dpkg-architecture -qDEB_HOST_MULTIARCH)
  echo "/usr/lib/${arch}/pulseaudio/libpulsedsp.so"
}

korvel_env_start() {
  KORVEL_ENV_DIR=$(mktemp -d /tmp/korvel-env.XXXXXX)
  # Display: let Xvfb pick a free number and tell it back. -noreset: tests
  # follow one another, and a server that resets when its last client leaves
  # refuses the next one that connects meanwhile.
  korvel_spawn Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$KORVEL_ENV_DIR/display" \
    >"$KORVEL_ENV_DIR/xvfb.log" 2>&1
  KORVEL_XVFB_PID=$!
  local i
  for i in $(seq 1 100); do
    [ -s "$KORVEL_ENV_DIR/display" ] && break
    sleep 0.1
  done
  export DISPLAY=":$(head -n1 "$KORVEL_ENV_DIR/display")"

  # Sound: a PulseAudio server of our own with a null sink; its monitor is
  # what tests record to check what the program played.
  export KORVEL_SINK=korvel_null
  mkdir -p "$KORVEL_ENV_DIR/pulse"
  PULSE_RUNTIME_PATH="$KORVEL_ENV_DIR/pulse" PULSE_STATE_PATH="$KORVEL_ENV_DIR/pulse" \
    korvel_spawn pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no --system=no \
    --disallow-module-loading=no \
    -L "module-native-protocol-unix socket=$KORVEL_ENV_DIR/pulse/native auth-anonymous=1" \
    -L "module-null-sink sink_name=$KORVEL_SINK rate=44100 channels=2" \
    -L "module-always-sink" \
    >"$KORVEL_ENV_DIR/pulse.log" 2>&1
  KORVEL_PULSE_PID=$!
  export PULSE_SERVER="unix:$KORVEL_ENV_DIR/pulse/native"
  for i in $(seq 1 100); do
    pactl info >/dev/null 2>&1 && break
    sleep 0.1
  done
  pactl set-default-sink "$KORVEL_SINK" >/dev/null 2>&1 || true
  export KORVEL_PULSEDSP
  KORVEL_PULSEDSP=$(korvel_pulsedsp_path)

  korvel_jack_start || { korvel_env_stop; return 1; }
}

# Asks, then kills: a server that ignores SIGTERM (or was stopped) is not
# left running.
korvel_end() {
  local i
  [ -n "$1" ] || return 0
  kill "$1" 2>/dev/null || return 0
  kill -CONT "$1" 2>/dev/null
  for i in $(seq 1 50); do
    kill -0 "$1" 2>/dev/null || break
    sleep 0.1
  done
  kill -KILL "$1" 2>/dev/null
  wait "$1" 2>/dev/null
}

korvel_env_stop() {
  korvel_end "$KORVEL_JACK_PID"
  korvel_end "$KORVEL_PULSE_PID"
  korvel_end "$KORVEL_XVFB_PID"
  [ -n "$KORVEL_ENV_DIR" ] && rm -rf "$KORVEL_ENV_DIR"
  KORVEL_PULSE_PID=""
  KORVEL_XVFB_PID=""
  KORVEL_JACK_PID=""
  KORVEL_ENV_DIR=""
  return 0
}
