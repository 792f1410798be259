#!/usr/bin/env python3
"""Whole-process comparison of `mpg123 -q`, the engine alone, the whole
player and peers (Audacious with its skinned interface and analyser, mpv)
on the same stream, in interleaved rounds. Run through bench/compare.sh,
which provides the sound server (a null sink), the X display and the station.

Each run is alone on the sink, so its first sound can be told from the sink's
monitor (which listens only until then). Per run:
  - first sound: mpg123, the engine and the peers from process start, the player from the
    click on Play; the time until the monitor carries non-silent samples;
  - start -> main window (player): process start until the main window is
    shown (the designed splash is most of it), and until the splash shows;
  - over MEASURE_SECONDS of steady playing: CPU seconds (all threads), thread
    wake-ups per second (voluntary + involuntary context switches of all
    threads), the display server's and the sound server's CPU in the same
    seconds;
  - peak RSS (VmHWM) at the end; for the player also its RSS with the main
    window shown before Play.
Prints medians with [min-max] over the rounds, the ratios to mpg123 and to
Audacious (median of the per-round ratios) and the threads of each program.
A peer that is not installed is left out with a note.
"""

import argparse
import array
import os
import shutil
import signal
import statistics
import subprocess
import sys
import threading
import time

HZ = os.sysconf("SC_CLK_TCK")


def log(*args):
    print(*args, file=sys.stderr, flush=True)


# ---------------------------------------------------------------- /proc reads

def read(path):
    try:
        with open(path) as f:
            return f.read()
    except OSError:
        return ""


def cpu_ticks(pid, tid=None):
    """utime + stime of a process (all threads) or of one thread."""
    path = f"/proc/{pid}/stat" if tid is None else f"/proc/{pid}/task/{tid}/stat"
    text = read(path)
    if not text:
        return 0
    fields = text[text.rindex(")") + 2:].split()
    return int(fields[11]) + int(fields[12])


def status_field(pid, name, tid=None):
    path = f"/proc/{pid}/status" if tid is None else f"/proc/{pid}/task/{tid}/status"
    for line in read(path).splitlines():
        if line.startswith(name + ":"):
            return int(line.split()[1])
    return 0


def threads(pid):
    """{tid: (name, cpu ticks, context switches)}"""
    out = {}
    try:
        tids = os.listdir(f"/proc/{pid}/task")
    except OSError:
        return out
    for tid in tids:
        # The main thread carries the program's name like the threads it
        # starts unnamed; for the player it is the UI thread.
        name = "main thread" if tid == str(pid) else read(f"/proc/{pid}/task/{tid}/comm").strip()
        switches = status_field(pid, "voluntary_ctxt_switches", tid) + \
            status_field(pid, "nonvoluntary_ctxt_switches", tid)
        out[tid] = (name, cpu_ticks(pid, tid), switches)
    return out


def thread_delta(before, after):
    """Per thread name: (cpu seconds, context switches) between two snapshots.
    Threads that appeared in between count from zero."""
    per_name = {}
    for tid, (name, ticks, switches) in after.items():
        t0, s0 = (before[tid][1], before[tid][2]) if tid in before else (0, 0)
        cpu, sw = per_name.get(name, (0.0, 0))
        per_name[name] = (cpu + (ticks - t0) / HZ, sw + (switches - s0))
    return per_name


# ------------------------------------------------------------ sink's monitor

class Monitor:
    """Reads the null sink's monitor continuously; reports when sound starts."""

    def __init__(self, source, threshold):
        self.threshold = threshold
        self.proc = subprocess.Popen(
            ["parec", "--raw", "--format=s16le", "--channels=1", "--rate=44100",
             "--latency-msec=5", f"--device={source}"],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, bufsize=0)
        self.lock = threading.Lock()
        self.armed = False
        self.sound_at = None
        self.loud_now = False
        self.flowing = threading.Event()  # parec delivers (its start can take half a second)
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def _run(self):
        fd = self.proc.stdout.fileno()
        carry = b""
        while True:
            chunk = os.read(fd, 1764)  # up to 20 ms
            now = time.monotonic()
            if not chunk:
                return
            self.flowing.set()
            data = carry + chunk
            usable = len(data) - len(data) % 2
            carry = data[usable:]
            samples = array.array("h", data[:usable])
            loud = any(abs(s) > self.threshold for s in samples)
            with self.lock:
                self.loud_now = loud
                if self.armed and loud and self.sound_at is None:
                    self.sound_at = now

    def arm(self):
        with self.lock:
            self.armed = True
            self.sound_at = None

    def disarm(self):
        with self.lock:
            self.armed = False

    def quiet(self):
        with self.lock:
            return not self.loud_now

    def wait_sound(self, timeout):
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            with self.lock:
                if self.sound_at is not None:
                    return self.sound_at
            time.sleep(0.005)
        return None

    def close(self):
        self.proc.kill()
        self.proc.wait()


# ------------------------------------------------------------------ programs

def visible_window(display, name):
    r = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", name],
                       env=dict(os.environ, DISPLAY=display), capture_output=True, text=True)
    ids = r.stdout.split()
    return ids[-1] if ids else None


def stop(proc):
    if proc.poll() is None:
        proc.send_signal(signal.SIGTERM)
        try:
            proc.wait(5)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()


class Run:
    def __init__(self, program):
        self.program = program
        self.values = {}
        self.threads = {}


def steady_measure(run, pid, args, xserver_pid, sound_pid):
    time.sleep(args.settle)
    t_before = threads(pid)
    c0, x0, s0 = cpu_ticks(pid), cpu_ticks(xserver_pid), cpu_ticks(sound_pid)
    w0 = time.monotonic()
    time.sleep(args.seconds)
    c1, x1, s1 = cpu_ticks(pid), cpu_ticks(xserver_pid), cpu_ticks(sound_pid)
    w1 = time.monotonic()
    t_after = threads(pid)
    scale = args.seconds / (w1 - w0)  # per MEASURE_SECONDS exactly
    run.values["cpu"] = (c1 - c0) / HZ * scale
    run.values["xcpu"] = (x1 - x0) / HZ * scale
    run.values["sndcpu"] = (s1 - s0) / HZ * scale
    per = thread_delta(t_before, t_after)
    run.threads = {n: (cpu * scale, sw / (w1 - w0)) for n, (cpu, sw) in per.items()}
    run.values["wakeups"] = sum(sw for _, sw in run.threads.values())
    run.values["rss"] = status_field(pid, "VmHWM") / 1024.0


def finish_run(run, monitor, since, proc, args, xserver_pid, sound_pid):
    """First sound counted from `since`; then the monitor goes (it would
    make the sink wake far more often) and the steady seconds are measured."""
    heard = monitor.wait_sound(15)
    monitor.close()
    if heard is not None:
        run.values["first"] = heard - since
    steady_measure(run, proc.pid, args, xserver_pid, sound_pid)
    stop(proc)
    return run


def run_from_start(name, argv, args, listen, xserver_pid, sound_pid):
    """A program that plays as soon as it starts: first sound from its start."""
    run = Run(name)
    monitor = listen()
    monitor.arm()
    t0 = time.monotonic()
    proc = subprocess.Popen(argv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return finish_run(run, monitor, t0, proc, args, xserver_pid, sound_pid)


def run_mpg123(args, *where):
    return run_from_start("mpg123 -q", ["mpg123", "-q", args.url], args, *where)


def run_engine(args, *where):
    seconds = str(args.settle + args.seconds + 30)
    return run_from_start("engine (bench_audio_play)", [args.engine, args.url, seconds], args, *where)


def run_mpv(args, *where):
    return run_from_start("mpv --no-video", ["mpv", "--no-video", "--really-quiet", "--no-config", args.url],
                          args, *where)


# Audacious with its Winamp-classic skinned interface (whose main window
# carries the analyser) on the Qt toolkit, through PulseAudio. Its settings
# live in a private folder; the plugin list is written by a first headless
# start and then switched to that interface and output.
AUDACIOUS_PLUGINS = {"General/qtui.so": 0, "General/skins-qt.so": 1, "General/skins.so": 0,
                     "General/gtkui.so": 0, "Output/pulse_audio.so": 1, "Output/alsa.so": 0}


def audacious_config(folder):
    home = os.path.join(folder, "audacious")
    registry = os.path.join(home, "plugin-registry")
    env = dict(os.environ, XDG_CONFIG_HOME=folder)
    env.pop("DISPLAY", None)
    if not os.path.exists(registry):
        os.makedirs(home, exist_ok=True)
        proc = subprocess.Popen(["audacious", "--headless"], env=env,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        end = time.monotonic() + 20
        while time.monotonic() < end and not os.path.exists(registry):
            time.sleep(0.2)
        time.sleep(1)
        stop(proc)
    if not os.path.exists(registry):
        raise RuntimeError("audacious wrote no plugin list")
    out, current = [], None
    with open(registry) as f:
        for line in f.read().split("\n"):
            kind, _, path = line.partition(" ")
            if path.startswith("/"):
                current = next((v for k, v in AUDACIOUS_PLUGINS.items() if path.endswith("/" + k)), None)
            if line.startswith("enabled ") and current is not None:
                line = f"enabled {current}"
            out.append(line)
    with open(registry, "w") as f:
        f.write("\n".join(out))
    # vis_type 0: the analyser in the main window.
    with open(os.path.join(home, "config"), "w") as f:
        f.write("\n[skins]\nskin=/usr/share/audacious/Skins/Default\nvis_type=0\n")
    return folder


def run_audacious(args, listen, xserver_pid, sound_pid):
    run = Run("audacious (skinned, analyser)")
    env = dict(os.environ, DISPLAY=args.display, XDG_CONFIG_HOME=args.audacious_config)
    monitor = listen()
    monitor.arm()
    t0 = time.monotonic()
    proc = subprocess.Popen(["audacious", "--qt", args.url], env=env,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    run = finish_run(run, monitor, t0, proc, args, xserver_pid, sound_pid)
    if not run.values.get("first"):
        log("   audacious made no sound")
    return run


def run_player(args, listen, xserver_pid, sound_pid):
    run = Run("player")
    env = dict(os.environ, DISPLAY=args.display)
    t0 = time.monotonic()
    proc = subprocess.Popen([os.path.join(args.bin, "kirasol-radio"), "--station", args.url],
                            cwd=args.bin, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    window = None
    deadline = t0 + 40
    while time.monotonic() < deadline and proc.poll() is None:
        if "splash" not in run.values and visible_window(args.display, "^Form3$"):
            run.values["splash"] = time.monotonic() - t0
        window = visible_window(args.display, "^Kirasol Radio$")
        if window:
            run.values["window"] = time.monotonic() - t0
            break
        time.sleep(0.01)
    if not window:
        stop(proc)
        raise RuntimeError("the player's main window did not show")
    time.sleep(1.0)
    run.values["rss_idle"] = status_field(proc.pid, "VmRSS") / 1024.0
    # The start-up sound must be over before listening for the stream.
    monitor = listen()
    quiet_since = time.monotonic()
    while time.monotonic() - quiet_since < 0.3:
        if not monitor.quiet():
            quiet_since = time.monotonic()
        time.sleep(0.02)
    monitor.arm()
    t_play = time.monotonic()
    subprocess.run(["xdotool", "mousemove", "--window", window, "36", "122", "click", "1"], env=env, check=True)
    return finish_run(run, monitor, t_play, proc, args, xserver_pid, sound_pid)


# ------------------------------------------------------------------- report

def fmt(values, digits):
    if not values:
        return "-"
    med = statistics.median(values)
    if len(values) == 1:
        return f"{med:.{digits}f}"
    return f"{med:.{digits}f} [{min(values):.{digits}f}-{max(values):.{digits}f}]"


def report(rounds, args):
    programs = []
    for rnd in rounds:
        for run in rnd:
            if run.program not in programs:
                programs.append(run.program)
    by_program = {p: [run for rnd in rounds for run in rnd if run.program == p] for p in programs}

    def col(p, key):
        return [r.values[key] for r in by_program[p] if key in r.values]

    def ratio(p, key, to="mpg123 -q"):
        out = []
        for rnd in rounds:
            ref = next((r for r in rnd if r.program == to), None)
            me = next((r for r in rnd if r.program == p), None)
            if ref and me and ref.values.get(key) and key in me.values:
                out.append(me.values[key] / ref.values[key])
        return out

    print(f"stream {args.url}; {len(rounds)} interleaved rounds; CPU over {args.seconds:g} s of playing "
          f"after {args.settle:g} s; median [min-max]")
    skinned = "audacious (skinned, analyser)"
    header = ["program", f"CPU s/{args.seconds:g}s", "x mpg123", "x audacious", "peak RSS MB", "x mpg123",
              "wake-ups/s", "first sound s", "start->main window s", "X server CPU s", "sound server CPU s"]
    rows = []
    for p in programs:
        first_note = " after Play" if p == "player" else " from start"
        rows.append([p, fmt(col(p, "cpu"), 3), fmt(ratio(p, "cpu"), 2), fmt(ratio(p, "cpu", skinned), 2),
                     fmt(col(p, "rss"), 1),
                     fmt(ratio(p, "rss"), 2), fmt(col(p, "wakeups"), 0),
                     fmt(col(p, "first"), 3) + (first_note if col(p, "first") else ""),
                     fmt(col(p, "window"), 2), fmt(col(p, "xcpu"), 3), fmt(col(p, "sndcpu"), 3)])
    print("| " + " | ".join(header) + " |")
    print("|" + "---|" * len(header))
    for row in rows:
        print("| " + " | ".join(row) + " |")
    for p in programs:
        for r in by_program[p]:
            if "window" in r.values:
                break
        else:
            continue
        print(f"{p}: start->splash shown {fmt(col(p, 'splash'), 2)} s, RSS with the main window shown "
              f"before Play {fmt(col(p, 'rss_idle'), 1)} MB")
    for p in programs:
        names = sorted({n for r in by_program[p] for n in r.threads},
                       key=lambda n: -statistics.median([r.threads.get(n, (0, 0))[0] for r in by_program[p]]))
        parts = []
        for n in names:
            cpu = [r.threads.get(n, (0, 0))[0] for r in by_program[p]]
            sw = [r.threads.get(n, (0, 0))[1] for r in by_program[p]]
            parts.append(f"{n}: {statistics.median(cpu):.3f} s, {statistics.median(sw):.0f}/s")
        print(f"threads of {p} (CPU s/{args.seconds:g}s, wake-ups/s, medians): " + "; ".join(parts))
    sys.stdout.flush()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--url", required=True)
    ap.add_argument("--bin", required=True, help="the build's program folder")
    ap.add_argument("--engine", help="bench_audio_play; the engine is left out without it")
    ap.add_argument("--display", required=True)
    ap.add_argument("--xserver-pid", type=int, required=True)
    ap.add_argument("--sound-pid", type=int, required=True)
    ap.add_argument("--rounds", type=int, default=5)
    ap.add_argument("--seconds", type=float, default=30)
    ap.add_argument("--settle", type=float, default=5)
    ap.add_argument("--programs", default="mpg123,engine,player")
    ap.add_argument("--work", default="/tmp", help="a private folder for other programs' settings")
    ap.add_argument("--monitor", default="kirasol_null.monitor")
    ap.add_argument("--threshold", type=int, default=64, help="a sample above this counts as sound")
    args = ap.parse_args()

    runners = {"mpg123": run_mpg123, "engine": run_engine, "player": run_player,
               "audacious": run_audacious, "mpv": run_mpv}
    order = []
    for p in args.programs.split(","):
        if p not in runners:
            log(f"{p}: not a program this bench knows, left out")
        elif p == "engine" and not args.engine:
            log("engine: bench_audio_play not built, left out")
        elif p in ("mpg123", "audacious", "mpv") and not shutil.which(p):
            log(f"{p}: not installed, left out")
        else:
            order.append(p)
    if "audacious" in order:
        args.audacious_config = audacious_config(os.path.join(args.work, "audacious-config"))
    def listen():
        # A monitor only while the first sound is awaited: a recording
        # client with a short latency makes the sink, and every player on
        # it, wake far more often than on a desktop, so the steady seconds
        # are measured without one.
        monitor = Monitor(args.monitor, args.threshold)
        if not monitor.flowing.wait(10):
            raise RuntimeError("the sink's monitor delivers nothing")
        time.sleep(0.1)
        return monitor

    rounds = []
    for i in range(args.rounds):
        rnd = []
        # Interleaved: each round starts with the next program.
        for p in order[i % len(order):] + order[:i % len(order)]:
            log(f"round {i + 1}/{args.rounds}: {p}")
            run = runners[p](args, listen, args.xserver_pid, args.sound_pid)
            log("   " + ", ".join(f"{k} {v:.3f}" for k, v in run.values.items()))
            rnd.append(run)
            time.sleep(1)
        rounds.append(rnd)
    report(rounds, args)


if __name__ == "__main__":
    main()
