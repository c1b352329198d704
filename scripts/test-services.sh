# Sourced by test.sh (and usable by hand): starts a private Xvfb server and a private
# PulseAudio daemon with a null sink, and exports DISPLAY and PULSE_SERVER for them.

start_test_services() {
  export VANTRY_TEST_RUNTIME
  VANTRY_TEST_RUNTIME="$(mktemp -d "${TMPDIR:-/tmp}/vantry-test-XXXXXXXX")"
  chmod 700 "$VANTRY_TEST_RUNTIME"

  # Xvfb: the first free display number from 90 on.
  local n=90
  while [[ -e "/tmp/.X11-unix/X$n" || -e "/tmp/.X$n-lock" ]]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 1920x1080x24 +extension RANDR +extension Composite -nolisten tcp \
    >"$VANTRY_TEST_RUNTIME/xvfb.log" 2>&1 &
  VANTRY_XVFB_PID=$!
  export DISPLAY=":$n"
  for _ in $(seq 50); do
    [[ -e "/tmp/.X11-unix/X$n" ]] && break
    sleep 0.1
  done

  # PulseAudio with a null sink; its monitor is the default source, so sound played into
  # the sink is what the microphone records.
  export XDG_RUNTIME_DIR="$VANTRY_TEST_RUNTIME"
  export PULSE_RUNTIME_PATH="$VANTRY_TEST_RUNTIME/pulse"
  mkdir -p "$PULSE_RUNTIME_PATH"
  export PULSE_SERVER="unix:$PULSE_RUNTIME_PATH/native"
  pulseaudio --daemonize=no --exit-idle-time=-1 --disallow-exit -n \
    --load="module-native-protocol-unix socket=$PULSE_RUNTIME_PATH/native auth-anonymous=1" \
    --load="module-null-sink sink_name=vantry_null rate=48000" \
    --load="module-always-sink" \
    >"$VANTRY_TEST_RUNTIME/pulse.log" 2>&1 &
  VANTRY_PULSE_PID=$!
  for _ in $(seq 50); do
    pactl info >/dev/null 2>&1 && break
    sleep 0.1
  done
  pactl set-default-sink vantry_null >/dev/null 2>&1 || true
  pactl set-default-source vantry_null.monitor >/dev/null 2>&1 || true
}

stop_test_services() {
  [[ -n "${VANTRY_PULSE_PID:-}" ]] && kill "$VANTRY_PULSE_PID" 2>/dev/null
  [[ -n "${VANTRY_XVFB_PID:-}" ]] && kill "$VANTRY_XVFB_PID" 2>/dev/null
  wait 2>/dev/null
  [[ -n "${VANTRY_TEST_RUNTIME:-}" ]] && rm -rf "$VANTRY_TEST_RUNTIME"
  return 0
}
