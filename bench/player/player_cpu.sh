#!/usr/bin/env bash
# CPU of the whole player playing the demo station with the spectrum running,
# measured side by side with `mpg123 -q` on the same stream over the same
# seconds. Prints both in percent of one core and their ratio (target: the
# player at most 1.5 times mpg123).
#
# Needs a build (BUILD_DIR, default build), Xvfb and xdotool. Uses the
# station's built-in ports 8620/8621, as scripts/run does.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
bin=${BUILD_DIR:-$root/build}/bin
seconds=${MEASURE_SECONDS:-30}
display=:${BENCH_DISPLAY:-93}

# shellcheck source=../../scripts/lib/sound-server.sh
. "$root/scripts/lib/sound-server.sh"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  stop_sound_server
}
trap cleanup EXIT
start_sound_server >/dev/null

Xvfb "$display" -screen 0 640x400x24 >/dev/null 2>&1 &
pids+=($!)
"$bin/kirasol-demo-station" --stream-port 8620 --http-port 8621 >/dev/null 2>&1 &
pids+=($!)
sleep 1
url=http://127.0.0.1:8620/

(cd "$bin" && DISPLAY=$display exec ./kirasol-radio --station "$url") >/dev/null 2>&1 &
player=$!
pids+=("$player")
# The splash hands over after about six seconds.
window=$(DISPLAY=$display timeout 30 xdotool search --sync --onlyvisible --name '^Kirasol Radio$' | tail -1)
sleep 1
DISPLAY=$display xdotool mousemove --window "$window" 36 122 click 1   # btnPresents
mpg123 -q "$url" >/dev/null 2>&1 &
reference=$!
pids+=("$reference")
sleep 5  # both past their buffering

ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
hz=$(getconf CLK_TCK)
# The UI thread (windows, timers, spectrum) is the process's main thread.
ui="$player/task/$player"
p0=$(ticks "$player"); u0=$(ticks "$ui"); r0=$(ticks "$reference"); t0=$(date +%s.%N)
sleep "$seconds"
p1=$(ticks "$player"); u1=$(ticks "$ui"); r1=$(ticks "$reference"); t1=$(date +%s.%N)

awk -v p=$((p1 - p0)) -v u=$((u1 - u0)) -v r=$((r1 - r0)) -v hz="$hz" -v t0="$t0" -v t1="$t1" 'BEGIN {
  wall = t1 - t0
  pc = 100 * p / hz / wall; uc = 100 * u / hz / wall; rc = 100 * r / hz / wall
  printf "player  %.2f %% CPU (UI thread %.2f %%, audio engine and output %.2f %%)\n", pc, uc, pc - uc
  printf "mpg123  %.2f %% CPU\n", rc
  if (rc > 0) printf "ratio   %.2f (target <= 1.5)\n", pc / rc
}'
