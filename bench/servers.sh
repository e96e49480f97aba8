# Sourced by the benches: a private X screen and a private PulseAudio server with a null sink, so that a
# bench measures only what it starts itself. The caller sets $work (a scratch folder it removes) and kills
# $xvfb_pid and $pulse_pid when it ends.

# start_private_screen NAME: exports DISPLAY and QT_QPA_PLATFORM; NAME is the bench's, for the message.
start_private_screen() {
  # A display of our own: on a number another bench holds, Xvfb would fail and the program would run on
  # that bench's server, and hang when it goes.
  for _ in $(seq 50); do
    display=:$((200 + RANDOM % 300))
    [ -e "/tmp/.X${display#:}-lock" ] || [ -e "/tmp/.X11-unix/X${display#:}" ] || break
  done
  Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp -noreset >"$work/xvfb.log" 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done
  if ! kill -0 "$xvfb_pid" 2>/dev/null; then
    echo "$1: Xvfb did not start on $display" >&2
    cat "$work/xvfb.log" >&2
    exit 1
  fi
  export DISPLAY=$display QT_QPA_PLATFORM=xcb
}

# start_private_sound: exports XDG_RUNTIME_DIR and PULSE_SERVER; fails if the server did not come up.
start_private_sound() {
  export XDG_RUNTIME_DIR="$work/run"
  mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
  export PULSE_SERVER="unix:$XDG_RUNTIME_DIR/pulse.sock"
  pulseaudio -n --daemonize=no --exit-idle-time=-1 --system=false --disallow-exit \
    -L "module-native-protocol-unix socket=$XDG_RUNTIME_DIR/pulse.sock auth-anonymous=1" \
    -L "module-null-sink sink_name=vbnull rate=44100 norewinds=1" \
    -L "module-always-sink" >"$work/pulse.log" 2>&1 &
  pulse_pid=$!
  for _ in $(seq 50); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
  pactl set-default-sink vbnull >/dev/null 2>&1
}
