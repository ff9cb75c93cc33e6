#!/usr/bin/env python3
"""Times two commands in turn, A then B, RUNS times, each pinned to one processor, and prints the
median of the pairs' ratios A/B for processor time (user + system, with the children each command
waited for) and for wall time. Run in turn on the same processor, both meet the same load, so the
ratio holds on a busy machine where absolute times drift.

    bench/pair.py [-n RUNS] [--pin CPU] [--timeout SECONDS] --vs "B COMMAND" -- A COMMAND...

Prints "A exit N" / "B exit N" for a run that failed, then
    A/B cpu = RATIO   (A MEDIAN s, B MEDIAN s)
    A/B wall = RATIO  (A MEDIAN s, B MEDIAN s)
    peak A MiB, B MiB (the largest resident set of a process of each, the median over the runs;
    a process started from this script counts at least this script's own size, printed too)
Both commands run through sh -c, so each pays the same shell start."""
import argparse
import os
import signal
import statistics
import subprocess
import sys
import time


def run(command, cpu, limit):
    """One run: (wall seconds, processor seconds, exit status, peak resident MiB)."""
    start = time.monotonic()
    # taskset rather than a Python function run in the child: the child then starts without
    # running any of this script's code, which would be counted as the command's time.
    child = subprocess.Popen(["taskset", "-c", str(cpu), "sh", "-c", command],
                             stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL, start_new_session=True)
    deadline = start + limit
    while True:
        pid, status, usage = os.wait4(child.pid, os.WNOHANG)
        if pid:
            break
        if time.monotonic() > deadline:
            os.killpg(child.pid, signal.SIGKILL)
            pid, status, usage = os.wait4(child.pid, 0)
            break
        time.sleep(0.0005)
    wall = time.monotonic() - start
    code = os.waitstatus_to_exitcode(status)
    return wall, usage.ru_utime + usage.ru_stime, code, usage.ru_maxrss / 1024


def main():
    parser = argparse.ArgumentParser(usage=__doc__)
    parser.add_argument("-n", type=int, default=5)
    parser.add_argument("--pin", type=int, default=0)
    parser.add_argument("--timeout", type=float, default=600)
    parser.add_argument("--vs", required=True)
    parser.add_argument("a", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    a = " ".join(args.a[1:] if args.a[:1] == ["--"] else args.a)
    if not a:
        parser.error("no A command")
    b = args.vs
    floor = run("true", args.pin, args.timeout)[3]
    run(a, args.pin, args.timeout)  # warm-up: files into the page cache, libraries loaded
    run(b, args.pin, args.timeout)
    ratios = {"cpu": [], "wall": []}
    times = {"A": {"cpu": [], "wall": [], "peak": []}, "B": {"cpu": [], "wall": [], "peak": []}}
    for _ in range(args.n):
        for name, command in (("A", a), ("B", b)):
            wall, cpu, code, peak = run(command, args.pin, args.timeout)
            if code != 0:
                print(f"{name} exit {code}", flush=True)
            times[name]["cpu"].append(cpu)
            times[name]["wall"].append(wall)
            times[name]["peak"].append(peak)
        for kind in ("cpu", "wall"):
            ours, theirs = times["A"][kind][-1], times["B"][kind][-1]
            ratios[kind].append(ours / theirs if theirs > 0 else float("inf"))
    for kind in ("cpu", "wall"):
        print(f"A/B {kind} = {statistics.median(ratios[kind]):.3f}   "
              f"(A {statistics.median(times['A'][kind]):.3f} s, "
              f"B {statistics.median(times['B'][kind]):.3f} s)")
    print(f"peak {statistics.median(times['A']['peak']):.1f} MiB, "
          f"{statistics.median(times['B']['peak']):.1f} MiB (at least {floor:.1f} MiB each)")


if __name__ == "__main__":
    sys.exit(main())
