#!/usr/bin/env python3
"""How fast vesperix-report reads a month of daily logs, and in how much memory.

    python3 bench/report_bench.py [--report PROGRAM] [--rows N]

PROGRAM defaults to build/linux/bin/vesperix-report beside this folder. The
logs are made in a temporary folder: one target probed once a second, its
failures taking two seconds, with 0.5% scattered losses and a 60-probe
outage each day, until there are N rows (2.6 million, about a month). Each
form of the report runs three times; the lines printed give the best wall
time and the largest peak resident memory (measured by GNU time). Two more runs show what the
memory follows: the same day logged by one monitor and by ten."""

import argparse
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_REPORT = os.path.join(HERE, "..", "build", "linux", "bin", "vesperix-report")
TARGET = "10.77.0.2"
TIMED_OUT = "Request timed-out."
GNU_TIME = "/usr/bin/time"  # Debian's time


def write_logs(folder, rows, monitors=1, seed=8):
    """Daily logs from 2026-11-01 on in `folder` holding `rows` rows of
    `monitors` monitors of one target; returns their paths."""
    rng = random.Random(seed)
    paths, written, second, day = [], 0, 0, 0
    log = None
    while written < rows:
        if second >= 86400 or log is None:
            if log is not None:
                log.close()
            second, day = 0, day + 1
            path = os.path.join(folder, "2026-11-%02d.tsv" % day if day <= 30 else "2026-12-%02d.tsv" % (day - 30))
            paths.append(path)
            log = open(path, "wb")
            outage = rng.randrange(0, 86400 - 200)
        clock = b"%02d:%02d:%02d\t" % (second // 3600, second // 60 % 60, second % 60)
        failed = outage <= second < outage + 120 or rng.random() < 0.005
        for _ in range(min(monitors, rows - written)):
            if failed:
                log.write(clock + b"%s\t-1\t%s\r\n" % (TARGET.encode(), TIMED_OUT.encode()))
            else:
                log.write(clock + b"%s\t%d\t\r\n" % (TARGET.encode(), 2 + int(rng.expovariate(0.5))))
            written += 1
        second += 2 if failed else 1
    log.close()
    return paths


def measure(command):
    """(wall seconds, peak resident KiB or None) of one run of `command`.

    The peak comes from GNU time: a child forked from Python would count
    Python's own pages, which it inherits until it execs, in its peak."""
    with tempfile.NamedTemporaryFile("r") as usage:
        wrapped = command
        if os.path.isfile(GNU_TIME):
            wrapped = [GNU_TIME, "-f", "%M", "-o", usage.name] + command
        started = time.monotonic()
        done = subprocess.run(wrapped, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        wall = time.monotonic() - started
        if done.returncode != 0:
            raise SystemExit("report_bench: %s failed: %s" % (command[0], done.stderr.decode(errors="replace")))
        peak = usage.read().strip()
    return wall, int(peak) if peak else None


def mebibytes(peak):
    return "%.1f MiB" % (peak / 1024) if peak is not None else "unknown (needs %s)" % GNU_TIME


def best_of(command, runs=3):
    results = [measure(command) for _ in range(runs)]
    peaks = [peak for _, peak in results if peak is not None]
    return min(wall for wall, _ in results), max(peaks) if peaks else None


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--report", default=os.environ.get("VESPERIX_REPORT_BIN", DEFAULT_REPORT))
    parser.add_argument("--rows", type=int, default=2600000)
    options = parser.parse_args()
    report = os.path.abspath(options.report)
    if not os.path.isfile(report):
        raise SystemExit("report_bench: no program at %s (build the linux preset first)" % report)
    folder = tempfile.mkdtemp(prefix="vesperix-report-bench-")
    try:
        paths = write_logs(folder, options.rows)
        size = sum(os.path.getsize(path) for path in paths)
        print("report: %d rows in %d daily logs (%.1f MB), one target" %
              (options.rows, len(paths), size / 1e6))
        chart = os.path.join(folder, "chart.svg")
        for name, extra in (("text", []), ("csv", ["--format", "csv"]), ("json", ["--format", "json"]),
                            ("text and svg", ["--svg", chart])):
            wall, peak = best_of([report] + extra + paths)
            print("report %s: %.2f s, %.0f rows/s, peak %s" %
                  (name, wall, options.rows / wall, mebibytes(peak)))
        # Memory follows targets and hours: ten times the rows in the same
        # hours cost no more.
        for monitors in (1, 10):
            day = os.path.join(folder, "day-%d" % monitors)
            os.mkdir(day)
            logs = write_logs(day, 86400 * monitors * 9 // 10, monitors=monitors)[:1]
            rows = sum(1 for path in logs for _ in open(path, "rb"))
            _, peak = best_of([report] + logs, runs=1)
            print("report memory, one day by %d monitor%s: %d rows, peak %s" %
                  (monitors, "" if monitors == 1 else "s", rows, mebibytes(peak)))
    finally:
        shutil.rmtree(folder, True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
