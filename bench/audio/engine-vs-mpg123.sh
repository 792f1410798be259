#!/usr/bin/env bash
# The audio engine alone (bench_audio_play: the demo station on the default
# output, spectrum asked for 40 times a second) against `mpg123 -q` on the
# same stream, into a private PulseAudio null sink. ROUNDS interleaved rounds
# (the order alternates), each program PLAY_SECONDS per round, one at a time.
#
# Per run: CPU seconds (user + sys, all threads), peak RSS, wake-ups
# (voluntary + involuntary context switches summed over the process's
# threads, read from /proc just before the program is stopped) and the
# first-sound time (process start until non-silent samples come out of the
# null sink's monitor). Output, one line each, stable for other scripts:
#   RUN <program> <round> cpu_s=.. rss_mb=.. wakeups=.. first_sound_s=..
#   ROW <program> cpu_s=.. rss_mb=.. wakeups=.. first_sound_s=..        (medians)
#   SPREAD <program> cpu_s=MIN..MAX rss_mb=MIN..MAX wakeups=MIN..MAX first_sound_s=MIN..MAX
#   THREAD <program> name=<comm> cpu_s=.. wakeups=..   (the engine's median-CPU run)
#   RATIO engine/mpg123 cpu=.. rss=.. wakeups=.. first_sound=..
# Programs: engine, mpg123. BUILD_DIR (default build), ROUNDS (5),
# PLAY_SECONDS (30).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build_dir=${BUILD_DIR:-$root/build}
rounds=${ROUNDS:-5}
seconds=${PLAY_SECONDS:-30}
player="$build_dir/bench/audio/bench_audio_play"
station="$build_dir/bin/kirasol-demo-station"
[ -x "$player" ] || { echo "build bench_audio_play first" >&2; exit 1; }
[ -x "$station" ] || { echo "build kirasol-demo-station first" >&2; exit 1; }
command -v mpg123 >/dev/null || { echo "mpg123 is not installed" >&2; exit 1; }

work=$(mktemp -d)
pids=()
# shellcheck source=../../scripts/lib/sound-server.sh
. "$root/scripts/lib/sound-server.sh"
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  stop_sound_server
  rm -rf "$work"
}
trap cleanup EXIT
start_sound_server

"$station" --stream-port 0 --http-port 0 >"$work/station.out" 2>"$work/station.err" &
pids+=($!)
for _ in $(seq 1 100); do
  grep -q "ready stream=" "$work/station.out" 2>/dev/null && break
  sleep 0.1
done
port=$(sed -n 's/.*ready stream=\([0-9]*\).*/\1/p' "$work/station.out" | head -1)
[ -n "$port" ] || { echo "station did not start" >&2; exit 1; }
url="http://127.0.0.1:$port/"

# Listens to the null sink's monitor in small pieces and writes the wall-clock
# time at which the first piece with sound arrived (-40 dBFS), after writing
# "ready" once the monitor delivers at all.
cat >"$work/first_sound.py" <<'PY'
import array, sys, time
out = open(sys.argv[1], 'w')
ready = False
while True:
    chunk = sys.stdin.buffer.read(441 * 2)  # 10 ms
    if not chunk:
        break
    if not ready:
        print('ready', flush=True)
        ready = True
    samples = array.array('h', chunk[: len(chunk) // 2 * 2])
    if samples and max(abs(s) for s in samples) > 328:
        out.write('%.4f\n' % time.time())
        out.close()
        break
PY

# One run: program name, round; appends a RUN line and keeps per-thread data.
run_one() {
  local name=$1 round=$2 cmd
  if [ "$name" = engine ]; then
    cmd=("$player" "$url" "$((seconds + 60))" -1 40)
  else
    cmd=(mpg123 -q "$url")
  fi
  local sound="$work/$name.$round.sound"
  parec -d kirasol_null.monitor --raw --format=s16le --channels=1 --rate=44100 --latency-msec=10 2>/dev/null |
    python3 "$work/first_sound.py" "$sound" >"$work/listen.out" &
  local listener=$!
  for _ in $(seq 1 100); do
    grep -q ready "$work/listen.out" 2>/dev/null && break
    sleep 0.05
  done
  local started=$EPOCHREALTIME
  /usr/bin/time -f "%U %S %M" -o "$work/$name.$round.time" "${cmd[@]}" >/dev/null 2>"$work/$name.$round.err" &
  local timer=$!
  sleep 0.2
  local pid
  pid=$(pgrep -P "$timer" | head -1)
  sleep "$(awk -v s="$seconds" 'BEGIN { print s - 0.2 }')"
  # Per thread: name, CPU ticks, context switches; just before stopping it.
  : >"$work/$name.$round.threads"
  for task in /proc/"$pid"/task/*; do
    local comm ticks switches
    comm=$(tr ' ' '_' <"$task/comm")
    ticks=$(sed 's/.*) //' "$task/stat" | awk '{ print $12 + $13 }')
    switches=$(awk '/ctxt_switches/ { n += $2 } END { print n }' "$task/status")
    echo "$comm $ticks $switches" >>"$work/$name.$round.threads"
  done 2>/dev/null
  kill "$pid" 2>/dev/null || true
  wait "$timer" 2>/dev/null || true
  kill "$listener" 2>/dev/null || true
  wait "$listener" 2>/dev/null || true
  local first=""
  [ -s "$sound" ] && first=$(awk -v s="$started" '{ printf "%.3f", $1 - s }' "$sound")
  read -r user sys rss < <(tail -1 "$work/$name.$round.time")
  local wakeups
  wakeups=$(awk '{ n += $3 } END { print n + 0 }' "$work/$name.$round.threads")
  awk -v n="$name" -v r="$round" -v u="$user" -v s="$sys" -v m="$rss" -v w="$wakeups" -v f="${first:-nan}" 'BEGIN {
    printf "RUN %s %d cpu_s=%.2f rss_mb=%.1f wakeups=%d first_sound_s=%s\n", n, r, u + s, m / 1024, w, f }' |
    tee -a "$work/runs"
  sleep 1  # let the sink fall silent
}

for round in $(seq 1 "$rounds"); do
  if [ $((round % 2)) -eq 1 ]; then
    run_one engine "$round"; run_one mpg123 "$round"
  else
    run_one mpg123 "$round"; run_one engine "$round"
  fi
done

python3 - "$work" "$(getconf CLK_TCK)" <<'PY'
import os, statistics, sys
work, hz = sys.argv[1], int(sys.argv[2])
runs = {}
for line in open(os.path.join(work, 'runs')):
    parts = line.split()
    values = {}
    for kv in parts[3:]:
        k, v = kv.split('=')
        values[k] = float(v)
    runs.setdefault(parts[1], []).append((int(parts[2]), values))
keys = ['cpu_s', 'rss_mb', 'wakeups', 'first_sound_s']
fmt = {'cpu_s': '%.2f', 'rss_mb': '%.1f', 'wakeups': '%d', 'first_sound_s': '%.3f'}
medians = {}
for name in ['engine', 'mpg123']:
    rows = runs.get(name, [])
    med, spread = [], []
    medians[name] = {}
    for k in keys:
        xs = [v[k] for _, v in rows if v[k] == v[k]]  # without nan
        if not xs:
            med.append('%s=nan' % k); spread.append('%s=nan' % k); medians[name][k] = float('nan'); continue
        m = statistics.median(xs)
        medians[name][k] = m
        med.append('%s=%s' % (k, fmt[k] % m))
        spread.append('%s=%s..%s' % (k, fmt[k] % min(xs), fmt[k] % max(xs)))
    print('ROW %s %s' % (name, ' '.join(med)))
    print('SPREAD %s %s' % (name, ' '.join(spread)))
# Per-thread figures of the engine's run with the median CPU.
rows = sorted(runs.get('engine', []), key=lambda r: r[1]['cpu_s'])
if rows:
    rnd = rows[len(rows) // 2][0]
    for line in open(os.path.join(work, 'engine.%d.threads' % rnd)):
        comm, ticks, switches = line.split()
        print('THREAD engine name=%s cpu_s=%.2f wakeups=%s' % (comm, int(ticks) / hz, switches))
e, m = medians.get('engine'), medians.get('mpg123')
if e and m:
    def ratio(k):
        return '%.2f' % (e[k] / m[k]) if m[k] and m[k] == m[k] and e[k] == e[k] else 'nan'
    print('RATIO engine/mpg123 cpu=%s rss=%s wakeups=%s first_sound=%s' %
          (ratio('cpu_s'), ratio('rss_mb'), ratio('wakeups'), ratio('first_sound_s')))
    print('goals: engine cpu <= 1.2 x mpg123, rss <= 15 MB, first sound <= 0.15 s')
PY
