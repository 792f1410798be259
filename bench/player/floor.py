#!/usr/bin/env python3
"""The wake-up floor under the player's figure.

Runs bench_wakeup_floor in interleaved rounds: a plain C++ loop and a shown
Qt window (on DISPLAY), each doing nothing but wake PER_SECOND times a
second, and prints the CPU each costs over SECONDS, median [min-max]. With
--mpg123 S (mpg123's CPU over the same time) it also prints the floor of a
player that decodes like mpg123 and moves a spectrum that often.

    bench/player/floor.py BUILD_DIR [SECONDS] [--per-second N] [--rounds N] [--mpg123 S]
"""
import argparse
import os
import resource
import statistics
import subprocess


def child_cpu():
    r = resource.getrusage(resource.RUSAGE_CHILDREN)
    return r.ru_utime + r.ru_stime


def fmt(values):
    med = statistics.median(values)
    return f"{med:.3f}" if len(values) == 1 else f"{med:.3f} [{min(values):.3f}-{max(values):.3f}]"


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build")
    ap.add_argument("seconds", nargs="?", type=float, default=30.0)
    ap.add_argument("--per-second", type=int, default=40)
    ap.add_argument("--rounds", type=int, default=3)
    ap.add_argument("--mpg123", type=float, help="mpg123's CPU seconds over the same time")
    args = ap.parse_args()
    program = os.path.join(args.build, "bench", "player", "bench_wakeup_floor")
    kinds = [("c", "plain loop (C++)"), ("qt", "shown Qt window, empty QTimer")]
    cpu = {kind: [] for kind, _ in kinds}
    for i in range(args.rounds):
        for kind, _ in kinds[i % 2:] + kinds[:i % 2]:
            before = child_cpu()
            subprocess.run([program, kind, str(args.per_second), str(args.seconds)], check=True,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            cpu[kind].append(child_cpu() - before)
    print(f"wake-up floor: {args.per_second} wake-ups a second and nothing else, {args.rounds} interleaved "
          f"rounds of {args.seconds:g} s, from start; median [min-max]")
    print(f"| program | CPU s/{args.seconds:g}s |" + (" mpg123 + this, x mpg123 |" if args.mpg123 else ""))
    print("|---|---|" + ("---|" if args.mpg123 else ""))
    for kind, name in kinds:
        extra = ""
        if args.mpg123:
            extra = f" {(args.mpg123 + statistics.median(cpu[kind])) / args.mpg123:.2f} |"
        print(f"| {name} | {fmt(cpu[kind])} |{extra}")


if __name__ == "__main__":
    main()
