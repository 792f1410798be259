#!/usr/bin/env python3
"""CPU cost of recording and relaying a station at real pace.

Runs the recorder window (bench_recorder_session) for SECONDS with one file
per song and a player reading the relay, and reports the user+system CPU time
it used, from its start and in steady recording (past its start-up). If
streamripper is installed, it records (and relays) the same station for the
same time, in interleaved rounds; medians with [min-max] and the per-round
ratio are printed. Beside them runs the same window with its figures changing
at a recording's pace and nothing recorded (--display-only): the cost of
showing them, under which the recorder cannot go.

    bench/recorder/recorder_cpu.py BUILD_DIR [SECONDS] [--rounds N] [--port STATION_PORT]

Without --port a demo station of the build is started for the runs.
"""
import argparse
import os
import re
import resource
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def relay_reader(port, stop, counter):
    """A player on the relay: request, then read everything."""
    deadline = time.time() + 10
    while not stop.is_set() and time.time() < deadline:
        try:
            s = socket.create_connection(("127.0.0.1", port), timeout=1)
            break
        except OSError:
            time.sleep(0.2)
    else:
        return
    s.sendall(b"GET / HTTP/1.0\r\nIcy-MetaData:1\r\n\r\n")
    s.settimeout(0.5)
    while not stop.is_set():
        try:
            data = s.recv(65536)
        except socket.timeout:
            continue
        except OSError:
            break
        if not data:
            break
        counter[0] += len(data)
    s.close()


def child_cpu():
    r = resource.getrusage(resource.RUSAGE_CHILDREN)
    return r.ru_utime + r.ru_stime


def running_cpu(pid):
    """CPU seconds of a running process, all its threads, to the nanosecond."""
    total = 0
    try:
        for tid in os.listdir(f"/proc/{pid}/task"):
            with open(f"/proc/{pid}/task/{tid}/schedstat") as f:
                total += int(f.read().split()[0])
    except OSError:
        return None
    return total / 1e9


FLOOR = "recorder window, figures only"

# Steady recording: from this long after the start (past the program's own
# start-up) to shortly before its end, scaled to the whole run's length.
STEADY_FROM = 2.0
STEADY_UNTIL_END = 0.5


def measure(cmd, seconds, relay_port):
    stop = threading.Event()
    counter = [0]
    reader = threading.Thread(target=relay_reader, args=(relay_port, stop, counter))
    before = child_cpu()
    t0 = time.monotonic()
    proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    samples = []

    def sample():
        for at in (STEADY_FROM, seconds - STEADY_UNTIL_END):
            delay = t0 + at - time.monotonic()
            if delay > 0 and stop.wait(delay):
                return
            samples.append((time.monotonic(), running_cpu(proc.pid)))

    sampler = threading.Thread(target=sample)
    sampler.start()
    time.sleep(1)
    reader.start()
    try:
        out, _ = proc.communicate(timeout=seconds + 30)
    except subprocess.TimeoutExpired:
        proc.terminate()
        out, _ = proc.communicate()
    stop.set()
    reader.join()
    sampler.join()
    steady = None
    if len(samples) == 2 and None not in (samples[0][1], samples[1][1]) and samples[1][0] > samples[0][0]:
        steady = (samples[1][1] - samples[0][1]) * seconds / (samples[1][0] - samples[0][0])
    return child_cpu() - before, steady, counter[0], out.strip().splitlines()[-1:] if out else []


def run_recorder(build, port, seconds):
    with tempfile.TemporaryDirectory() as out:
        relay = free_port()
        cpu, steady, relayed, tail = measure([os.path.join(build, "bench", "recorder", "bench_recorder_session"),
                                              str(port), str(relay), out, str(seconds)], seconds, relay)
        files = len(os.listdir(out))
        size = sum(os.path.getsize(os.path.join(out, f)) for f in os.listdir(out))
    return cpu, steady, f"{files} files, {size} bytes recorded, {relayed} bytes relayed; {' '.join(tail)}"


def run_display_floor(build, seconds):
    """The recorder window with its figures changing at a recording's pace,
    and no station, file or relay: the floor of showing them."""
    cpu, steady, _, _ = measure([os.path.join(build, "bench", "recorder", "bench_recorder_session"),
                                 "--display-only", str(seconds)], seconds, free_port())
    return cpu, steady, "figures only"


def run_streamripper(port, seconds):
    with tempfile.TemporaryDirectory() as out:
        relay = free_port()
        cpu, steady, relayed, _ = measure(["streamripper", f"http://127.0.0.1:{port}/", "-d", out, "-l",
                                   str(int(seconds)), "-r", str(relay), "-z", "--quiet"], seconds, relay)
        files = size = 0
        for folder, _, names in os.walk(out):
            files += len(names)
            size += sum(os.path.getsize(os.path.join(folder, n)) for n in names)
    return cpu, steady, f"{files} files, {size} bytes recorded, {relayed} bytes relayed"


def fmt(values):
    if not values:
        return "-"
    med = statistics.median(values)
    return f"{med:.3f}" if len(values) == 1 else f"{med:.3f} [{min(values):.3f}-{max(values):.3f}]"


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build", nargs="?", default="build")
    ap.add_argument("seconds", nargs="?", type=float, default=60.0)
    ap.add_argument("--rounds", type=int, default=1)
    ap.add_argument("--port", type=int, help="a running station's stream port")
    args = ap.parse_args()

    station = None
    port = args.port
    if port is None:
        station = subprocess.Popen([os.path.join(args.build, "bin", "kirasol-demo-station"), "--stream-port", "0",
                                    "--http-port", "0"], stdout=subprocess.PIPE, text=True)
    try:
        if station is not None:
            line = station.stdout.readline()
            m = re.search(r"ready stream=(\d+) http=(\d+)", line)
            if not m:
                sys.exit("demo station did not start: " + line)
            port = int(m.group(1))
        ripper = shutil.which("streamripper") is not None
        if not ripper:
            print("streamripper: not installed (apt-get install -y streamripper), no comparison", file=sys.stderr)
        runners = [("recorder window", lambda: run_recorder(args.build, port, args.seconds)),
                   (FLOOR, lambda: run_display_floor(args.build, args.seconds))]
        if ripper:
            runners.append(("streamripper", lambda: run_streamripper(port, args.seconds)))
        cpu = {name: [] for name, _ in runners}
        steady = {name: [] for name, _ in runners}
        ratios = {name: [] for name, _ in runners}
        steady_ratios = {name: [] for name, _ in runners}
        for i in range(args.rounds):
            this_round, this_steady = {}, {}
            # Interleaved: each round starts with the next program.
            for name, run in runners[i % len(runners):] + runners[:i % len(runners)]:
                c, st, note = run()
                st_text = f"{st:.3f}" if st is not None else "-"
                print(f"round {i + 1}/{args.rounds}: {name}: {c:.3f} s CPU from start, {st_text} steady; {note}",
                      file=sys.stderr, flush=True)
                cpu[name].append(c)
                this_round[name] = c
                if st is not None:
                    steady[name].append(st)
                    this_steady[name] = st
            for name, _ in runners:
                if ripper and name != "streamripper" and this_round["streamripper"] > 0:
                    ratios[name].append(this_round[name] / this_round["streamripper"])
                if ripper and name != "streamripper" and this_steady.get("streamripper") and name in this_steady:
                    steady_ratios[name].append(this_steady[name] / this_steady["streamripper"])
        print(f"recording and relaying at real pace, {args.rounds} interleaved rounds of {args.seconds:g} s; "
              f"median [min-max]; steady: from {STEADY_FROM:g} s after the start to {STEADY_UNTIL_END:g} s "
              f"before the end, scaled to {args.seconds:g} s")
        print(f"| program | CPU s/{args.seconds:g}s from start | % of a core | x streamripper "
              f"| steady CPU s/{args.seconds:g}s | x streamripper |")
        print("|---|---|---|---|---|---|")
        for name, _ in runners:
            share = [100 * c / args.seconds for c in cpu[name]]
            print(f"| {name} | {fmt(cpu[name])} | {fmt(share)} | {fmt(ratios[name])} "
                  f"| {fmt(steady[name])} | {fmt(steady_ratios[name])} |")
        print(f"{FLOOR}: the same window showing the same figures at the same pace, with no station, file or "
              "relay; what showing them costs is the floor under the recorder's figure")
    finally:
        if station is not None:
            station.terminate()
            station.wait()


if __name__ == "__main__":
    main()
