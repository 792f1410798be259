#!/usr/bin/env python3
"""CPU cost of recording and relaying a station at real pace.

Starts the demo station, runs the recorder window (bench_recorder_session)
for SECONDS with one file per song and a player reading the relay, and
reports the user+system CPU time it used. If streamripper is installed, it
records (and relays) the same station for the same time for comparison.

    bench/recorder/recorder_cpu.py BUILD_DIR [SECONDS]
"""
import os
import re
import resource
import shutil
import socket
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
        if not data:
            break
        counter[0] += len(data)
    s.close()


def child_cpu():
    r = resource.getrusage(resource.RUSAGE_CHILDREN)
    return r.ru_utime + r.ru_stime


def measure(cmd, seconds, relay_port):
    stop = threading.Event()
    counter = [0]
    reader = threading.Thread(target=relay_reader, args=(relay_port, stop, counter))
    before = child_cpu()
    proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    time.sleep(1)
    reader.start()
    try:
        out, _ = proc.communicate(timeout=seconds + 30)
    except subprocess.TimeoutExpired:
        proc.terminate()
        out, _ = proc.communicate()
    stop.set()
    reader.join()
    return child_cpu() - before, counter[0], out.strip().splitlines()[-1:] if out else []


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 60.0
    bindir = os.path.join(build, "bin")
    station = subprocess.Popen([os.path.join(bindir, "kirasol-demo-station"), "--stream-port", "0",
                                "--http-port", "0"], stdout=subprocess.PIPE, text=True)
    try:
        line = station.stdout.readline()
        m = re.search(r"ready stream=(\d+) http=(\d+)", line)
        if not m:
            sys.exit("demo station did not start: " + line)
        port = m.group(1)
        with tempfile.TemporaryDirectory() as out:
            relay = free_port()
            cpu, relayed, tail = measure([os.path.join(build, "bench", "recorder", "bench_recorder_session"),
                                          port, str(relay), out, str(seconds)], seconds, relay)
            files = len(os.listdir(out))
            print(f"recorder window: {cpu:.2f} s CPU in {seconds:.0f} s ({100 * cpu / seconds:.2f} % of a core), "
                  f"{files} files, {relayed} bytes relayed; {' '.join(tail)}")
        if shutil.which("streamripper"):
            with tempfile.TemporaryDirectory() as out:
                relay = free_port()
                cpu, relayed, _ = measure(["streamripper", f"http://127.0.0.1:{port}/", "-d", out, "-l",
                                           str(int(seconds)), "-r", str(relay), "-z", "--quiet"],
                                          seconds, relay)
                files = sum(len(f) for _, _, f in os.walk(out))
                print(f"streamripper:    {cpu:.2f} s CPU in {seconds:.0f} s ({100 * cpu / seconds:.2f} % of a core), "
                      f"{files} files, {relayed} bytes relayed")
        else:
            print("streamripper: not installed, no comparison")
    finally:
        station.terminate()
        station.wait()


if __name__ == "__main__":
    main()
