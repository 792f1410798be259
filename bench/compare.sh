#!/usr/bin/env bash
# One command for the cost tables: `mpg123 -q`, the engine alone, the whole
# player (spectrum running) and its peers (Audacious with the skinned classic
# interface and its analyser, mpv) on the same demo-station stream, into a
# private PulseAudio null sink, in interleaved rounds. Prints CPU seconds per
# 30 s, peak RSS, wake-ups, first sound (from start; for the player from the
# click on Play) and start -> main window, each as median [min-max], the
# ratios to mpg123 and to Audacious and the threads of each program; then the
# floor under the player's figure (40 wake-ups a second alone). Then the
# recorder window against streamripper, recording and relaying the station at
# real pace (bench/recorder/recorder_cpu.py). The measuring of the players is
# bench/player/measure.py; this script provides the sound server, an X
# display with a window manager and the station.
#
#   BUILD_DIR      build folder (default build)
#   ROUNDS         rounds (default 5)
#   MEASURE_SECONDS  seconds of steady playing measured per run (default 30)
#   PROGRAMS       comma-separated subset of mpg123,engine,player,audacious,mpv
#   FLOOR_ROUNDS   rounds of the wake-up floor (bench/player/floor.py; default 3, 0 leaves it out)
#   RECORDER_ROUNDS  rounds of the recorder comparison (default 3; 0 leaves it out)
#   RECORDER_SECONDS seconds recorded per run (default 30)
#   BENCH_DISPLAY  X display number for the private Xvfb (default 93)
# Needs Xvfb, xdotool, parec (pulseaudio-utils), mpg123; openbox if present.
# Peers that are not installed are left out with a note; they come from
# Debian: apt-get install -y audacious audacious-plugins streamripper mpv
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${BUILD_DIR:-$root/build}
bin=$build_dir/bin
engine=$build_dir/bench/audio/bench_audio_play
display=:${BENCH_DISPLAY:-93}
[ -x "$bin/kirasol-radio" ] && [ -x "$bin/kirasol-demo-station" ] || { echo "build the player first" >&2; exit 1; }

work=$(mktemp -d)
pids=()
# shellcheck source=../scripts/lib/sound-server.sh
. "$root/scripts/lib/sound-server.sh"
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  stop_sound_server
  rm -rf "$work"
}
trap cleanup EXIT
start_sound_server >/dev/null

Xvfb "$display" -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
xserver=$!
pids+=("$xserver")
for _ in $(seq 1 50); do DISPLAY=$display xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
if command -v openbox >/dev/null; then
  DISPLAY=$display openbox >/dev/null 2>&1 &
  pids+=($!)
fi

# The player checks for updates at start: the station serves the update folder
# where the build looks for it, so the check finds nothing new and the start
# runs as a listener's would.
update_url=$(sed -n 's/^KIRASOL_UPDATE_URL:[A-Z]*=//p' "$build_dir/CMakeCache.txt" 2>/dev/null)
http_port=$(echo "$update_url" | sed -n 's#^http://127\.0\.0\.1:\([0-9]*\)/update/$#\1#p')
"$bin/kirasol-demo-station" --stream-port 0 --http-port "${http_port:-0}" >"$work/station.out" 2>"$work/station.err" &
pids+=($!)
for _ in $(seq 1 100); do grep -q "ready stream=" "$work/station.out" && break; sleep 0.1; done
port=$(sed -n 's/.*ready stream=\([0-9]*\).*/\1/p' "$work/station.out" | head -1)
[ -n "$port" ] || { echo "the demo station did not start:" >&2; cat "$work/station.err" >&2; exit 1; }

engine_args=()
[ -x "$engine" ] && engine_args=(--engine "$engine")
python3 "$root/bench/player/measure.py" --url "http://127.0.0.1:$port/" --bin "$bin" "${engine_args[@]}" \
  --display "$display" --xserver-pid "$xserver" --sound-pid "$KIRASOL_PA_PID" \
  --rounds "${ROUNDS:-5}" --seconds "${MEASURE_SECONDS:-30}" --work "$work" \
  --programs "${PROGRAMS:-mpg123,engine,player,audacious,mpv}" | tee "$work/players.md"

# The floor under the player's figure: waking 40 times a second alone, in C++
# and in a shown Qt window, added to mpg123's cost when it was measured.
floor=$build_dir/bench/player/bench_wakeup_floor
if [ -x "$floor" ] && [ "${FLOOR_ROUNDS:-3}" -gt 0 ]; then
  mpg123_cpu=$(sed -n 's/^| mpg123 -q | \([0-9.]*\).*/\1/p' "$work/players.md")
  echo
  DISPLAY=$display python3 "$root/bench/player/floor.py" "$build_dir" "${MEASURE_SECONDS:-30}" \
    --rounds "${FLOOR_ROUNDS:-3}" ${mpg123_cpu:+--mpg123 "$mpg123_cpu"}
fi

if [ "${RECORDER_ROUNDS:-3}" -gt 0 ]; then
  echo
  python3 "$root/bench/recorder/recorder_cpu.py" "$build_dir" "${RECORDER_SECONDS:-30}" \
    --rounds "${RECORDER_ROUNDS:-3}" --port "$port"
fi
