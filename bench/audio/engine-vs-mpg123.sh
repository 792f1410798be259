#!/usr/bin/env bash
# Plays the demo station for 30 s through the engine (spectrum asked for 40
# times a second) and, in the same run, with `mpg123 -q` on the same URL, both
# into a private PulseAudio null sink. Prints CPU seconds (user + sys) and
# peak RSS of each, their ratio, and the engine's RSS over the run.
#   BUILD_DIR (default build), PLAY_SECONDS (default 30)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build_dir=${BUILD_DIR:-$root/build}
seconds=${PLAY_SECONDS:-30}
player="$build_dir/bench/audio/bench_audio_play"
station="$build_dir/bin/kirasol-demo-station"
[ -x "$player" ] || { echo "build bench_audio_play first" >&2; exit 1; }

work=$(mktemp -d)
station_pid=""
# shellcheck source=../../scripts/lib/sound-server.sh
. "$root/scripts/lib/sound-server.sh"
cleanup() {
  [ -n "$station_pid" ] && kill "$station_pid" 2>/dev/null && wait "$station_pid" 2>/dev/null || true
  stop_sound_server
  rm -rf "$work"
}
trap cleanup EXIT
start_sound_server

if [ -x "$station" ]; then
  "$station" --stream-port 0 --http-port 0 >"$work/station.out" 2>"$work/station.err" &
  station_pid=$!
  what="demo station"
else
  # Without the demo station: the 128 kbit/s test tone, looped at real time.
  python3 - "$root/tests/data/audio/tone1k.mp3" >"$work/station.out" <<'PY' &
import socket, sys, threading, time
audio = open(sys.argv[1], 'rb').read()
srv = socket.socket(); srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
srv.bind(('127.0.0.1', 0)); srv.listen(8)
print('ready stream=%d http=0' % srv.getsockname()[1], flush=True)
def serve(c):
    try:
        c.recv(4096)
        c.sendall(b'ICY 200 OK\r\nicy-name:Bench Tone\r\nicy-br:128\r\n\r\n')
        start, sent = time.monotonic(), 0
        while True:
            for i in range(0, len(audio), 1600):
                c.sendall(audio[i:i + 1600]); sent += 1600
                time.sleep(max(0, start + sent / 16000 - time.monotonic()))
    except OSError:
        c.close()
while True:
    c, _ = srv.accept()
    threading.Thread(target=serve, args=(c,), daemon=True).start()
PY
  station_pid=$!
  what="looped test tone (demo station not built)"
fi
for _ in $(seq 1 100); do
  grep -q "ready stream=" "$work/station.out" 2>/dev/null && break
  sleep 0.1
done
port=$(sed -n 's/.*ready stream=\([0-9]*\).*/\1/p' "$work/station.out" | head -1)
[ -n "$port" ] || { echo "station did not start" >&2; exit 1; }
url="http://127.0.0.1:$port/"

/usr/bin/time -f "%U %S %M" -o "$work/engine.time" "$player" "$url" "$seconds" 2>"$work/engine.log" &
engine_pid=$!
/usr/bin/time -f "%U %S %M" -o "$work/mpg123.time" timeout "$seconds" mpg123 -q "$url" 2>"$work/mpg123.log" &
mpg123_pid=$!
wait "$engine_pid" || { echo "engine run failed:" >&2; cat "$work/engine.log" >&2; exit 1; }
wait "$mpg123_pid" || true  # timeout ends mpg123 with status 124

read -r eu es em <"$work/engine.time"
read -r mu ms mm < <(tail -1 "$work/mpg123.time")
rss=$(sed -n 's/^rss \([0-9]*\).*/\1/p' "$work/engine.log")
echo "stream: $what, $url, $seconds s"
awk -v eu="$eu" -v es="$es" -v em="$em" -v mu="$mu" -v ms="$ms" -v mm="$mm" 'BEGIN {
  e = eu + es; m = mu + ms
  printf "engine : cpu %.2f s (user %.2f + sys %.2f), peak RSS %d KiB\n", e, eu, es, em
  printf "mpg123 : cpu %.2f s (user %.2f + sys %.2f), peak RSS %d KiB\n", m, mu, ms, mm
  if (m > 0) printf "ratio  : cpu %.2f x mpg123 (target <= 1.2), RSS %.2f x\n", e / m, em / mm
}'
echo "$rss" | awk 'NR == 5 { first = $1 } { last = $1; if ($1 > max) max = $1 } END {
  printf "engine RSS after 5 s %d KiB, at end %d KiB, max %d KiB\n", first, last, max }'
