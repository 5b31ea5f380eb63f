#!/usr/bin/env python3
"""How fast vesperix-report reads a month of daily logs of ten targets, beside
`wc -l` and `mawk` on the same files, and in how much memory.

    python3 bench/report_bench.py [--report PROGRAM] [--days N] [--targets N] [--runs N]

PROGRAM defaults to build/linux/bin/vesperix-report beside this folder. The
logs are made in a temporary folder, one per UTC day: each target is probed
once a second by a monitor of its own, a failure taking two seconds, with
0.5% scattered losses and a 60-probe outage each day, and the monitors' rows
interleave in the files as they would. 30 days of 10 targets are about 26
million rows, 600 MB. Every file is read once before anything is timed, so
all runs read from the page cache.

Each run of the report is timed beside one run of `wc -l` and of `mawk` (the
sum of field 3 and the count of rows whose field 3 is -1) on the same files,
in turn, and the best wall time of each is shown with their ratios; the
report's CPU time over its wall time says how many cores it kept busy. Other
work on the machine slows the report, which wants every core, more than
`wc -l`, which wants one: the load average at the start is shown. A year
of the same targets is estimated from the measured rates, not run. Peak
resident memory comes from GNU time. Two more runs show what the memory
follows: the same day logged by one monitor and by ten."""

import argparse
import datetime
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_REPORT = os.path.join(HERE, "..", "build", "linux", "bin", "vesperix-report")
TIMED_OUT = b"Request timed-out."
GNU_TIME = "/usr/bin/time"  # Debian's time
MAWK_PROGRAM = "{ sum += $3 } $3 == -1 { lost++ } END { print sum, lost }"
MOST_TIMES_WC = 4  # the report may take at most this many times as long as wc -l


def write_logs(folder, days, targets, monitors=1, seed=8):
    """Daily logs from 2026-11-01 on in `folder`, `days` of them, of `targets`
    targets each probed by `monitors` monitors; returns their paths."""
    rng = random.Random(seed)
    names = [b"10.77.0.%d" % (2 + i) for i in range(targets)]
    clocks = [b"%02d:%02d:%02d" % (s // 3600, s // 60 % 60, s % 60) for s in range(86400)]
    paths = []
    for day in range(days):
        slots = [[] for _ in range(86400)]
        for name in names:
            answers = [b"\t" + name + b"\t%d\t\r\n" % ms for ms in range(2, 40)]
            failure = b"\t" + name + b"\t-1\t" + TIMED_OUT + b"\r\n"
            for _ in range(monitors):
                outage = rng.randrange(0, 86400 - 200)
                second = rng.randrange(0, 2)
                chance, spread = rng.random, rng.expovariate
                while second < 86400:
                    if outage <= second < outage + 120 or chance() < 0.005:
                        slots[second].append(failure)
                        second += 2
                    else:
                        slots[second].append(answers[min(len(answers) - 1, int(spread(0.5)))])
                        second += 1
        date = datetime.date(2026, 11, 1) + datetime.timedelta(days=day)
        path = os.path.join(folder, date.isoformat() + ".tsv")
        with open(path, "wb") as log:
            log.write(b"".join(clocks[s] + row for s in range(86400) for row in slots[s]))
        paths.append(path)
    return paths


def measure(command):
    """(wall seconds, CPU seconds, peak resident KiB or None) of one run.

    The peak comes from GNU time: a child forked from Python would count
    Python's own pages, which it inherits until it execs, in its peak."""
    with tempfile.NamedTemporaryFile("r") as usage:
        wrapped = command
        if os.path.isfile(GNU_TIME):
            wrapped = [GNU_TIME, "-f", "%M", "-o", usage.name] + command
        started = time.monotonic()
        child = subprocess.Popen(wrapped, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        _, status, resources = os.wait4(child.pid, 0)
        wall = time.monotonic() - started
        problems = child.stderr.read()
        child.stderr.close()
        if os.waitstatus_to_exitcode(status) != 0:
            raise SystemExit("report_bench: %s failed: %s" % (command[0], problems.decode(errors="replace")))
        peak = usage.read().strip()
    return wall, resources.ru_utime + resources.ru_stime, int(peak) if peak else None


def mebibytes(peak):
    return "%.1f MiB" % (peak / 1024) if peak is not None else "unknown (needs %s)" % GNU_TIME


def best_of(command, runs=3):
    """(best wall, CPU of that run, largest peak) of `runs` runs of `command`."""
    results = [measure(command) for _ in range(runs)]
    peaks = [peak for _, _, peak in results if peak is not None]
    wall, cpu, _ = min(results, key=lambda result: result[0])
    return wall, cpu, max(peaks) if peaks else None


def side_by_side(commands, runs):
    """{name: (best wall, its CPU, largest peak)} of `commands` ({name: (command,
    runs wanted)}), run in turn so that each meets the machine alike."""
    results = {name: [] for name in commands}
    for run in range(runs):
        for name, (command, wanted) in commands.items():
            if run < wanted:
                results[name].append(measure(command))
    best = {}
    for name, measured in results.items():
        peaks = [peak for _, _, peak in measured if peak is not None]
        wall, cpu, _ = min(measured, key=lambda result: result[0])
        best[name] = (wall, cpu, max(peaks) if peaks else None)
    return best


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--report", default=os.environ.get("VESPERIX_REPORT_BIN", DEFAULT_REPORT))
    parser.add_argument("--days", type=int, default=30, help="days of logs (30)")
    parser.add_argument("--targets", type=int, default=10, help="targets sharing the logs (10)")
    parser.add_argument("--runs", type=int, default=15, help="runs of the report and of wc -l (15; mawk 3)")
    options = parser.parse_args()
    report = os.path.abspath(options.report)
    if not os.path.isfile(report):
        raise SystemExit("report_bench: no program at %s (build the linux preset first)" % report)
    mawk = shutil.which("mawk")
    folder = tempfile.mkdtemp(prefix="vesperix-report-bench-")
    try:
        paths = write_logs(folder, options.days, options.targets)
        size = sum(os.path.getsize(path) for path in paths)
        rows = 0
        for path in paths:  # also brings every file into the page cache
            with open(path, "rb") as log:
                rows += log.read().count(b"\n")
        print("report: %d rows in %d daily logs (%.1f MB) of %d targets, from the page cache, on %d cores"
              " (load average %.1f)" % (rows, len(paths), size / 1e6, options.targets, os.cpu_count(),
                                        os.getloadavg()[0]))

        commands = {"report": ([report] + paths, options.runs), "wc -l": (["wc", "-l"] + paths, options.runs)}
        if mawk is not None:
            commands["mawk"] = ([mawk, "-F", "\t", MAWK_PROGRAM] + paths, min(3, options.runs))
        best = side_by_side(commands, options.runs)
        wall, cpu, peak = best["report"]
        print("report text: %.3f s, %.1f M rows/s, %.0f MB/s, %.2f cores busy, peak %s" %
              (wall, rows / wall / 1e6, size / wall / 1e6, cpu / wall, mebibytes(peak)))
        print("wc -l: %.3f s" % best["wc -l"][0])
        ratio = wall / best["wc -l"][0]
        print("report / wc -l: %.2f (target at most %d: %s)" %
              (ratio, MOST_TIMES_WC, "met" if ratio <= MOST_TIMES_WC else "NOT met"))
        if mawk is not None:
            print("mawk (sum of field 3, count of -1): %.3f s" % best["mawk"][0])
            print("report / mawk: %.2f" % (wall / best["mawk"][0]))
        else:
            print("mawk: not installed, not run")

        year_rows, year_bytes = rows * 365 / options.days, size * 365 / options.days
        print("a year of %d targets, estimated: %.0f M rows, %.1f GB: report %.1f s, wc -l %.1f s%s" %
              (options.targets, year_rows / 1e6, year_bytes / 1e9, year_rows / rows * wall,
               year_rows / rows * best["wc -l"][0],
               ", mawk %.0f s" % (year_rows / rows * best["mawk"][0]) if mawk is not None else ""))

        chart = os.path.join(folder, "chart.svg")
        for name, extra in (("csv", ["--format", "csv"]), ("json", ["--format", "json"]),
                            ("openmetrics", ["--format", "openmetrics"]), ("text and svg", ["--svg", chart])):
            wall, cpu, peak = best_of([report] + extra + paths)
            print("report %s: %.3f s, %.1f M rows/s, peak %s" % (name, wall, rows / wall / 1e6, mebibytes(peak)))
        # A window opens only the logs of its days, whatever the others.
        end = (datetime.date(2026, 11, 1) + datetime.timedelta(days=options.days)).isoformat()
        for name, extra in (("text of the last 7 days", ["--since", "7d"]),
                            ("--check of the last 24 hours", ["--check", "-w", "1000,100%", "-c", "1000,100%",
                                                              "--since", "24h"])):
            wall, cpu, peak = best_of([report, "--now", end] + extra + paths)
            print("report %s, of all %d logs named: %.3f s, peak %s" % (name, len(paths), wall, mebibytes(peak)))
        # Memory follows targets and hours: ten times the rows in the same
        # hours cost no more.
        for monitors in (1, 10):
            day = os.path.join(folder, "day-%d" % monitors)
            os.mkdir(day)
            logs = write_logs(day, 1, 1, monitors=monitors)
            day_rows = sum(1 for path in logs for _ in open(path, "rb"))
            _, _, peak = best_of([report] + logs, runs=1)
            print("report memory, one day of one target by %d monitor%s: %d rows, peak %s" %
                  (monitors, "" if monitors == 1 else "s", day_rows, mebibytes(peak)))
    finally:
        shutil.rmtree(folder, True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
