# Sourced by scripts/test and scripts/run. Starts a private PulseAudio server
# with a null sink as default output and its monitor as default input, so that
# sound works (and can be captured) on machines without a sound card, as root
# too. Sets KIRASOL_PA_PID; stop_sound_server stops what was started.

start_sound_server() {
  KIRASOL_PA_PID=""
  export XDG_RUNTIME_DIR="${KIRASOL_PA_DIR:-$(mktemp -d /tmp/kirasol-pa.XXXXXX)}"
  chmod 700 "$XDG_RUNTIME_DIR"
  export PULSE_RUNTIME_PATH="$XDG_RUNTIME_DIR/pulse"
  pulseaudio --system=false --exit-idle-time=-1 -n --daemonize=no --log-target=stderr \
    --load=module-native-protocol-unix \
    --load="module-null-sink sink_name=kirasol_null sink_properties=device.description=KirasolNull" \
    >"$XDG_RUNTIME_DIR/pulseaudio.log" 2>&1 &
  KIRASOL_PA_PID=$!
  for _ in $(seq 1 50); do
    if pactl info >/dev/null 2>&1; then
      pactl set-default-sink kirasol_null
      pactl set-default-source kirasol_null.monitor
      return 0
    fi
    sleep 0.1
  done
  echo "sound server did not start; see $XDG_RUNTIME_DIR/pulseaudio.log" >&2
  return 1
}

stop_sound_server() {
  if [ -n "${KIRASOL_PA_PID:-}" ]; then
    kill "$KIRASOL_PA_PID" 2>/dev/null || true
    wait "$KIRASOL_PA_PID" 2>/dev/null || true
    KIRASOL_PA_PID=""
  fi
}
