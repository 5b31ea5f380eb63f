#!/usr/bin/env python3
"""The monitor's footprint, accuracy and steadiness, measured in one run and
printed as a Markdown table, each figure against a fixed target.

    python3 bench/monitor_bench.py     (as root; scripts/bench builds first)

Every program runs in network namespaces this run makes (see tests/e2e/netlab.py)
and probes 127.0.0.1 there or a scripted host one veth hop away, so no packet
leaves the machine. Each figure is taken for both socket kinds: "raw" (the
namespace forbids datagram ICMP sockets) and "datagram" (it allows them to
every group). Everything the run makes is removed at its end, also when it
fails or is interrupted, and every wait is bounded.
"""

import datetime
import math
import os
import platform
import re
import shutil
import signal
import statistics
import sys
import tempfile
import threading
import time
import unittest
from concurrent.futures import ThreadPoolExecutor
from functools import partial

sys.dont_write_bytecode = True  # nothing left behind in the source tree
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
os.environ.setdefault("VESPERIX_BIN", os.path.join(ROOT, "build", "linux", "bin", "vesperix"))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import echohost  # noqa: E402
import netlab  # noqa: E402

KINDS = netlab.SOCKET_KINDS
LOOPBACK = "127.0.0.1"
SHORT, LONG = 3, 33            # probes of a short and a long run
REPEATS = 5                    # runs per CPU and memory figure; the median counts
VALGRIND_SHORT, VALGRIND_LONG = 2, 6
DELAYS = [0.4, 1.6, 7.6, 50.6, 300.6, 900.6]  # the scripted host's answer delays, ms
ROUNDS = 3
DROPS = 4                      # timed-out cycles after the answered ones
SIGNAL_REPEATS = 3
LOG_SIZE = 1 << 30
PERIOD_SLACK_MS = 5.0          # "about": what the log and the scheduler may add
EXIT_SLACK_MS = 5.0            # the process's own exit after the cycle
RUN_LIMIT_S = 600              # the whole run, at most

# The targets. A probe and its console line take 4 system calls in the
# leanest prober (send, wait, receive, write); the daily log and the pause
# may add 8 (open, the descriptor's flags, write, close, the pause, the
# datagram socket's error queue), and what keeps rows from being glued to a
# fragment 3 more: the lock, the file's size and its last byte. (Its check
# of the file's kind at open takes the place of a flags call.)
CALLS_TARGET = 4 + 8 + 3
CPU_TARGET_S = 1e-3            # a thousandth of a core at a probe a second
MEMORY_TARGET_KIB = 1800
# The system calls that keep rows from being glued to a fragment: the
# file's kind at open and its size (both fstat), the writers' lock, and its
# last byte.
CHECK_CALLS = ("flock", "newfstatat", "pread64")

PROBE_LINE = re.compile(r"\d+ms|Request timed-out\.|.*\.$")


class Scope(unittest.TestCase):
    """What netlab and echohost expect of a test: cleanups, run in reverse
    order by doCleanups, and failures that raise."""

    def runTest(self):
        pass


# --- one measured run --------------------------------------------------------

def sparse_logs(folder):
    """A 1 GiB log of today (and of tomorrow, should the run cross UTC
    midnight) in `folder`, as sparse files: they take one disk block each."""
    today = datetime.datetime.now(datetime.timezone.utc).date()
    for day in (today, today + datetime.timedelta(days=1)):
        path = os.path.join(folder, day.strftime("%Y-%m-%d.tsv"))
        # Holes but for the last block, which ends in a line end as a log does.
        with open(path, "wb") as log:
            log.seek(LOG_SIZE - 2)
            log.write(b"\r\n")
        os.chmod(path, 0o666)


def log_rows(folder, skip):
    """Rows the monitor appended to the logs in `folder` past `skip` bytes."""
    rows = 0
    for name in os.listdir(folder):
        if name.endswith(".tsv"):
            with open(os.path.join(folder, name), "rb") as log:
                log.seek(skip)
                rows += log.read().count(b"\r\n")
    return rows


class Run:
    """vesperix probing 127.0.0.1 in a namespace of its own with a terminal
    for its output, under `launcher` (strace, /usr/bin/time, valgrind) when
    given; `child` says whether the launcher starts the program as its child."""

    def __init__(self, scope, kind, launcher=(), child=True, big_log=False):
        self.kind = kind
        self.namespace = netlab.client_namespace(scope, kind)
        self.cwd = tempfile.mkdtemp(prefix="vesperix-bench-")
        scope.addCleanup(_remove_tree, self.cwd)
        os.chmod(self.cwd, 0o777)
        self.skip = LOG_SIZE if big_log else 0
        if big_log:
            sparse_logs(self.cwd)
        self.monitor = netlab.Monitor(scope, self.namespace, [LOOPBACK], terminal=True,
                                      cwd=self.cwd, launcher=launcher)
        self.child = child and bool(launcher)
        self._pid = None

    def pid(self):
        """The measured program's own process id."""
        if self._pid is None:
            self._pid = self.monitor.process.pid
            if self.child:
                self._pid = first_child(self._pid)
        return self._pid

    def probes(self, lines):
        return sum(1 for _, text in lines if PROBE_LINE.fullmatch(text))

    def await_probes(self, count, timeout):
        if not self.monitor.read_lines(lambda lines: self.probes(lines) >= count, timeout):
            raise RuntimeError("vesperix (%s) printed %d of %d probes in %d s: %r" % (
                self.kind, self.probes(self.monitor.lines), count, timeout,
                self.monitor.lines[-3:]))

    def cpu_seconds(self):
        """User plus system time of the whole process so far (the kernel's
        per-process CPU clock, exact to the nanosecond)."""
        return time.clock_gettime(((~self.pid()) << 3) | 2)

    def socket_kind(self):
        """The kind of ICMP socket the program holds in its namespace."""
        if self.namespace.sockets("icmp"):
            return "datagram"
        return "raw" if self.namespace.sockets("raw") else "none"

    def finish(self, timeout=20):
        """Stops vesperix between cycles and waits for the end."""
        os.kill(self.pid(), signal.SIGINT)
        status, _, err = self.monitor.wait(timeout)
        if status != 0:
            raise RuntimeError("vesperix (%s) ended with %d: %s" % (self.kind, status, err))


def _remove_tree(folder):
    shutil.rmtree(folder, True)


def first_child(pid, timeout=10):
    deadline = time.monotonic() + timeout
    path = "/proc/%d/task/%d/children" % (pid, pid)
    while time.monotonic() < deadline:
        try:
            with open(path) as children:
                found = children.read().split()
        except OSError:
            found = []
        if found:
            return int(found[0])
        time.sleep(0.01)
    raise RuntimeError("process %d started no program" % pid)


def realtime(pid):
    """Real-time scheduling for the monitor in the timing figures, so that the
    other work on a shared machine does not delay it."""
    os.sched_setscheduler(pid, os.SCHED_FIFO, os.sched_param(10))


def in_parallel(jobs):
    """Runs the callables at once; returns their results in order."""
    if not jobs:
        return []
    with ThreadPoolExecutor(max_workers=len(jobs)) as pool:
        futures = [pool.submit(job) for job in jobs]
        return [future.result() for future in futures]


# --- system calls, CPU time, memory, and the 1 GiB log ------------------------

STRACE_ROW = re.compile(r"\s*[\d.]+\s+([\d.]+)\s+\d+\s+(\d+)\s+(?:\d+\s+)?(\S+)\s*")


def strace_calls(path):
    """({system call: count}, {system call: seconds in the kernel}) from a
    summary of strace -c."""
    calls, seconds = {}, {}
    with open(path) as summary:
        for line in summary:
            match = STRACE_ROW.fullmatch(line)
            if match and match.group(3) != "total":
                calls[match.group(3)] = int(match.group(2))
                seconds[match.group(3)] = float(match.group(1))
    return calls, seconds


def peak_memory_kib(path):
    with open(path) as report:
        match = re.search(r"Maximum resident set size \(kbytes\): (\d+)", report.read())
    if match is None:
        raise RuntimeError("no peak memory in " + path)
    return int(match.group(1))


def counted_calls(scope, kind, count, big_log, folder):
    """Runs vesperix for `count` probes, or one more should the stop come
    late, under strace -c -f; returns its calls, their kernel time and the
    probes it made."""
    out = os.path.join(folder, "strace-%s-%d-%d" % (kind, count, big_log))
    run = Run(scope, kind, launcher=("strace", "-f", "-c", "-o", out), big_log=big_log)
    run.await_probes(count, count + 30)
    run.finish()
    probes = run.probes(run.monitor.lines)
    if log_rows(run.cwd, run.skip) != probes:
        raise RuntimeError("%d rows for %d probes" % (log_rows(run.cwd, run.skip), probes))
    return strace_calls(out) + (probes,)


def timed_run(scope, kind, big_log, folder, number):
    """Runs vesperix under /usr/bin/time -v; returns (CPU seconds per probe
    between the SHORT-th and the LONG-th probe, peak memory in KiB, the
    socket kind it used)."""
    out = os.path.join(folder, "time-%s-%d-%d" % (kind, big_log, number))
    run = Run(scope, kind, launcher=("/usr/bin/time", "-v", "-o", out), big_log=big_log)
    marks = []
    for mark in (SHORT, LONG):
        run.await_probes(mark, LONG + 30)
        # Well inside the pause after that probe: the cycle is complete.
        time.sleep(0.3)
        marks.append(run.cpu_seconds())
    used = run.socket_kind()
    run.finish()
    return (marks[1] - marks[0]) / (LONG - SHORT), peak_memory_kib(out), used


def per_probe(short, long, extra=LONG - SHORT):
    names = sorted(set(short) | set(long))
    each = {name: (long.get(name, 0) - short.get(name, 0)) / extra for name in names}
    return sum(each.values()), {name: value for name, value in each.items() if value}


def footprint(scope, folder):
    """System calls, CPU time and peak memory, and the cost with a 1 GiB log,
    all running at once."""
    plan = []
    for kind in KINDS:
        for big_log in (False, True):
            for count in (SHORT, LONG):
                plan.append((("calls", kind, big_log, count),
                             partial(counted_calls, scope, kind, count, big_log, folder)))
            for number in range(REPEATS):
                plan.append((("time", kind, big_log, number),
                             partial(timed_run, scope, kind, big_log, folder, number)))
    results = dict(zip([key for key, _ in plan], in_parallel([job for _, job in plan])))
    figures = {}
    for kind in KINDS:
        for big_log in (False, True):
            (short, short_time, short_probes), (long, long_time, long_probes) = (
                results[("calls", kind, big_log, SHORT)], results[("calls", kind, big_log, LONG)])
            extra = long_probes - short_probes
            total, each = per_probe(short, long, extra)
            figures[("calls", kind, big_log)] = total
            figures[("calls detail", kind, big_log)] = each
            _, seconds = per_probe({n: short_time.get(n, 0) for n in CHECK_CALLS},
                                   {n: long_time.get(n, 0) for n in CHECK_CALLS}, extra)
            figures[("check calls", kind, big_log)] = sum(each.get(n, 0) for n in CHECK_CALLS)
            figures[("check time", kind, big_log)] = sum(seconds.values())
            runs = [results[("time", kind, big_log, n)] for n in range(REPEATS)]
            figures[("cpu", kind, big_log)] = statistics.median(r[0] for r in runs)
            figures[("cpu all", kind, big_log)] = [r[0] for r in runs]
            figures[("rss", kind, big_log)] = statistics.median(r[1] for r in runs)
            figures[("rss all", kind, big_log)] = [r[1] for r in runs]
            figures[("socket", kind)] = "/".join(sorted(set(r[2] for r in runs)))
    return figures


# --- heap allocations ---------------------------------------------------------

STDIO = re.compile(r"(_IO_\w+|f?open(64)?|fdopen|fclose|setvbuf|v?f?printf|puts|fputs|fwrite|fflush)"
                   r"(@@?GLIBC.*)?")


def own_functions():
    """Names of the functions defined in the program and its echo provider."""
    names = set()
    stage = os.path.dirname(os.path.dirname(netlab.VESPERIX))
    for binary in (netlab.VESPERIX, os.path.join(stage, "lib", "vesperix", "libvesperix-icmp.so")):
        listing = netlab.run(["nm", "-C", "--defined-only", binary]).stdout
        for line in listing.splitlines():
            parts = line.split(" ", 2)
            if len(parts) == 3 and parts[1] in "tTwW":
                names.add(parts[2])
    return names


XTREE_NAME = re.compile(r"(c?fn)=\((\d+)\)(?: (.*))?")


def boundary_allocations(path, own):
    """{callee: blocks allocated under it} for every call from the system's
    own code into other code, from valgrind's xtree of heap allocations
    (callgrind format: after each calls= line, the inclusive cost)."""
    names, caller, callee, costed = {}, None, None, False
    found = {}
    with open(path) as tree:
        for line in tree:
            match = XTREE_NAME.fullmatch(line.rstrip("\n"))
            if match:
                kind, number, name = match.groups()
                if name is not None:
                    names[number] = name
                if kind == "fn":
                    caller = names[number]
                else:
                    callee = names[number]
                continue
            if line.startswith("calls="):
                costed = True
                continue
            if costed and line[:1].isdigit():
                costed = False
                # events: curB curBk totB totBk totFdB totFdBk
                blocks = int(line.split()[4])
                if caller in own and callee not in own and blocks:
                    found[callee] = found.get(callee, 0) + blocks
    return found


def heap_run(scope, kind, count, folder):
    tree = os.path.join(folder, "xtree-%s-%d" % (kind, count))
    log = os.path.join(folder, "valgrind-%s-%d" % (kind, count))
    run = Run(scope, kind, child=False,
              launcher=("valgrind", "--xtree-memory=full", "--xtree-memory-file=" + tree,
                        "--log-file=" + log))
    run.await_probes(count, 60)
    run.finish(60)
    with open(log) as report:
        match = re.search(r"total heap usage: ([\d,]+) allocs", report.read())
    if match is None:
        raise RuntimeError("no heap summary in " + log)
    return int(match.group(1).replace(",", "")), tree


def heap(scope, folder):
    """Heap allocations per cycle: those under the C library's file stream
    calls, and all the others."""
    own = own_functions()
    plan = [(kind, count) for kind in KINDS for count in (VALGRIND_SHORT, VALGRIND_LONG)]
    results = dict(zip(plan, in_parallel([partial(heap_run, scope, kind, count, folder)
                                          for kind, count in plan])))
    figures = {}
    extra = VALGRIND_LONG - VALGRIND_SHORT
    for kind in KINDS:
        (short_total, short_tree), (long_total, long_tree) = (
            results[(kind, VALGRIND_SHORT)], results[(kind, VALGRIND_LONG)])
        short, long = boundary_allocations(short_tree, own), boundary_allocations(long_tree, own)
        each = {name: (long.get(name, 0) - short.get(name, 0)) / extra
                for name in set(short) | set(long)}
        stream = sum(value for name, value in each.items() if STDIO.fullmatch(name))
        total = (long_total - short_total) / extra
        figures[("heap stream", kind)] = stream
        figures[("heap own", kind)] = total - stream
        figures[("heap detail", kind)] = {name: value for name, value in each.items() if value}
    return figures


# --- round trips and cycle periods against a scripted host --------------------

def round_trips(scope, _folder):
    """vesperix probes a scripted host that answers each request after a
    delay it notes itself; then it meets DROPS losses."""
    steps = ["reply after=%s" % delay for delay in DELAYS] * ROUNDS
    answered = len(steps)
    script = {"flows": [steps + ["drop"] * (DROPS + 1)], "requests": answered + DROPS + 1,
              "seconds": 90}
    started = {}
    for kind in KINDS:
        run = echohost.ScriptedRun(scope, kind, script)
        realtime(run.monitor.process.pid)
        started[kind] = run
    figures = {}
    for kind in KINDS:
        run = started[kind]
        # The request after the last loss ends the last period.
        if not run.host.wait_for(lambda seen: len(seen) > answered + DROPS,
                                 answered * 2 + DROPS * 2 + 30):
            raise RuntimeError("the host saw too few requests from vesperix")
        lines = run.lines(answered + DROPS, 10)
        applied = run.host.applied_delays(0, answered)
        if sorted(applied) != list(range(answered)):
            raise RuntimeError("the host answered %d of %d requests" % (len(applied), answered))
        errors = {}
        for place, delay in enumerate(steps):
            ours = int(re.fullmatch(r"(\d+)ms", lines[place]).group(1))
            errors.setdefault(delay, []).append(ours - math.floor(applied[place] * 1000))
        arrived = [request["arrived"] for request in run.host.flow(0)]
        periods = [(arrived[place + 1] - arrived[place]) * 1000 for place in range(answered + DROPS)]
        figures[("rtt errors", kind)] = errors
        figures[("rtt", kind)] = max(statistics.median(e) for e in errors.values())
        figures[("rtt least", kind)] = min(statistics.median(e) for e in errors.values())
        figures[("period answered", kind)] = [period - 1000 - applied[place] * 1000
                                              for place, period in enumerate(periods[:answered])]
        figures[("period lost", kind)] = periods[answered:]
    return figures


# --- SIGINT to exit -----------------------------------------------------------

def exit_after_signal(scope, kind, case):
    """Milliseconds from SIGINT to the exit, and what was left of the cycle
    when it came: `case` "pause" signals 200 ms into the pause after an
    instant answer, "wait" 300 ms into the wait for an answer that never
    comes. Both count from the host's stamp of the request's arrival."""
    step, into, cycle = ("reply", 0.2, 1.0) if case == "pause" else ("drop", 0.3, 2.0)
    run = echohost.ScriptedRun(scope, kind, {"flows": [[step] * 4], "requests": 4, "seconds": 20})
    monitor, pid = run.monitor, run.monitor.process.pid
    realtime(pid)
    # The second request: the first may have come while this thread was
    # still setting up.
    if not run.host.wait_for(lambda seen: len(seen) >= 2, 10):
        raise RuntimeError("vesperix sent no second request")
    arrived = run.host.requests[1]["arrived"]
    if time.monotonic() > arrived + into - 0.05:
        raise RuntimeError("too late to signal %d ms into the cycle" % (into * 1000))
    time.sleep(arrived + into - time.monotonic())
    guard = threading.Timer(10, monitor.kill)
    guard.start()
    signalled = time.monotonic()
    os.kill(pid, signal.SIGINT)
    os.waitid(os.P_PID, pid, os.WEXITED | os.WNOWAIT)
    ended = time.monotonic()
    guard.cancel()
    status, out, _ = monitor.wait(10)
    if status != 0 or "Ctrl+C" not in out:
        raise RuntimeError("vesperix ended with %d: %r" % (status, out))
    return (ended - signalled) * 1000, (arrived + cycle - signalled) * 1000


def stops(scope, _folder):
    figures = {}
    for _ in range(SIGNAL_REPEATS):
        plan = [(kind, case) for kind in KINDS for case in ("pause", "wait")]
        jobs = [partial(exit_after_signal, scope, kind, case) for kind, case in plan]
        for key, result in zip(plan, in_parallel(jobs)):
            figures.setdefault(("stop",) + key, []).append(result)
    return figures


# --- the table ----------------------------------------------------------------

def machine():
    name = "Linux"
    try:
        with open("/etc/os-release") as release:
            match = re.search(r'^PRETTY_NAME="?([^"\n]*)', release.read(), re.M)
            name = match.group(1) if match else name
    except OSError:
        pass
    return "%s, %d cores, kernel %s" % (name, os.cpu_count(), platform.release())


def verdict(met):
    return "met" if met else "**missed**"


def table(f):
    rows = []

    def row(figure, raw, datagram, target, met):
        rows.append("| %s | %s | %s | %s | %s |" % (figure, raw, datagram, target, met))

    def both(key, form):
        return [form(f[key(kind)]) for kind in KINDS]

    row("system calls per probe", *both(lambda k: ("calls", k, False), "{:.1f}".format),
        "at most %d" % CALLS_TARGET,
        verdict(all(f[("calls", k, False)] <= CALLS_TARGET for k in KINDS)))
    micro = lambda seconds: "%.0f µs" % (seconds * 1e6)  # noqa: E731
    row("CPU time per probe (user + sys)", *both(lambda k: ("cpu", k, False), micro),
        "at most %s" % micro(CPU_TARGET_S),
        verdict(all(f[("cpu", k, False)] <= CPU_TARGET_S for k in KINDS)))
    kib = "{:.0f} KiB".format
    row("peak resident memory", *both(lambda k: ("rss", k, False), kib),
        "at most %d KiB" % MEMORY_TARGET_KIB,
        verdict(all(f[("rss", k, False)] <= MEMORY_TARGET_KIB for k in KINDS)))
    count = "{:.2f}".format
    row("heap allocations per cycle, own code", *both(lambda k: ("heap own", k), count),
        "0", verdict(all(f[("heap own", k)] == 0 for k in KINDS)))
    row("heap allocations per cycle, C library's file stream",
        *both(lambda k: ("heap stream", k), count), "counted apart", "shown")
    check = lambda k: "%.1f calls, %.1f µs" % (  # noqa: E731
        f[("check calls", k, False)], f[("check time", k, False)] * 1e6)
    row("no-glue means per cycle (file kind, lock, size, last byte)", *[check(k) for k in KINDS],
        "counted in the rows above", "shown")
    within = "{:+.0f} ms".format
    row("RTT minus floor(the host's own delay), worst delay",
        *[within(f[("rtt", k)]) for k in KINDS], "0 to +1 ms",
        verdict(all(0 <= f[("rtt least", k)] and f[("rtt", k)] <= 1 for k in KINDS)))
    excess = lambda values: "%+.1f ms" % statistics.median(values)  # noqa: E731
    row("cycle period of an answered probe, beyond 1000 ms + RTT",
        *both(lambda k: ("period answered", k), excess),
        "within %g ms" % PERIOD_SLACK_MS,
        verdict(all(abs(statistics.median(f[("period answered", k)])) <= PERIOD_SLACK_MS
                    for k in KINDS)))
    row("cycle period of a timed-out probe",
        *both(lambda k: ("period lost", k), lambda v: "%.1f ms" % statistics.median(v)),
        "2000 ms, within %g ms" % PERIOD_SLACK_MS,
        verdict(all(abs(statistics.median(f[("period lost", k)]) - 2000) <= PERIOD_SLACK_MS
                    for k in KINDS)))
    for case, what in (("pause", "during the pause"), ("wait", "during a wait")):
        def stop_form(results):
            took = statistics.median(r[0] for r in results)
            left = statistics.median(r[1] for r in results)
            return "%.0f ms (rest %.0f)" % (took, left)
        row("SIGINT to exit, " + what, *both(lambda k: ("stop", k, case), stop_form),
            "at most the rest of the cycle, + %g ms to exit" % EXIT_SLACK_MS,
            # On the medians shown, as for the other figures: a single run
            # also carries the machine's scheduling noise at exit.
            verdict(all(statistics.median(r[0] for r in f[("stop", k, case)]) <=
                        statistics.median(r[1] for r in f[("stop", k, case)]) + EXIT_SLACK_MS
                        for k in KINDS)))
    grown = lambda k: ("%.1f vs %.1f calls, %s vs %s" % (  # noqa: E731
        f[("calls", k, True)], f[("calls", k, False)],
        micro(f[("cpu", k, True)]), micro(f[("cpu", k, False)])))
    row("cost per cycle, 1 GiB log vs empty folder", *[grown(k) for k in KINDS],
        "no growth", verdict(all(not_grown(f, k) for k in KINDS)))
    header = ["| figure | raw socket | datagram socket | target | |",
              "|---|---|---|---|---|"]
    return header + rows


def not_grown(f, kind):
    """No more calls, and no more CPU time than the spread of the empty
    folder's own runs allows."""
    # Calls that grew with the file would come in whole calls per cycle; a
    # fraction is a one-off call of the short or the long run.
    calls = round(f[("calls", kind, True)]) <= round(f[("calls", kind, False)])
    empty = f[("cpu all", kind, False)]
    spread = max(max(empty) - min(empty), 2e-6)
    return calls and f[("cpu", kind, True)] <= statistics.median(empty) + spread


def details(f):
    folder = tempfile.gettempdir()
    lines = ["the 1 GiB logs are sparse files in %s (%s), so they take a block each" % (
        folder, netlab.run(["findmnt", "-n", "-o", "FSTYPE", "-T", folder]).stdout.strip())]
    for kind in KINDS:
        for big_log in (False, True):
            each = f[("calls detail", kind, big_log)]
            lines.append("system calls per probe%s (%s): %s" % (
                ", 1 GiB log" if big_log else "", f[("socket", kind)],
                ", ".join("%s %g" % (name, round(value, 2)) for name, value in sorted(each.items()))))
            lines.append("no-glue means per probe%s (%s): %.2f calls, %.2f µs in the kernel" % (
                ", 1 GiB log" if big_log else "", kind, f[("check calls", kind, big_log)],
                f[("check time", kind, big_log)] * 1e6))
    for kind in KINDS:
        lines.append("CPU per probe (%s): %s; peak memory: %s KiB" % (
            f[("socket", kind)],
            ", ".join("%.1f µs" % (v * 1e6) for v in f[("cpu all", kind, False)]),
            ", ".join(str(v) for v in f[("rss all", kind, False)])))
        lines.append("heap allocations per cycle by callee, %s: %s" % (
            kind, ", ".join("%s %g" % item for item in sorted(f[("heap detail", kind)].items()))
            or "none"))
        lines.append("RTT minus floor(the host's delay) per delay, %s: %s" % (
            kind, "; ".join("%s ms: %s" % (delay.split("=")[1], errors)
                            for delay, errors in f[("rtt errors", kind)].items())))
        lines.append("cycle period beyond 1000 ms + RTT, %s: %s" % (
            kind, " ".join("%+.1f" % v for v in f[("period answered", kind)])))
        lines.append("timed-out cycle periods, %s: %s" % (
            kind, " ".join("%.1f" % v for v in f[("period lost", kind)])))
        for case in ("pause", "wait"):
            lines.append("SIGINT %s, %s: %s" % (case, kind, "; ".join(
                "exit after %.1f ms, rest %.1f ms" % r for r in f[("stop", kind, case)])))
    return lines


def main():
    if os.geteuid() != 0:
        sys.stderr.write("monitor_bench: run as root: it makes network namespaces\n")
        return 2
    for tool in ("ip", "strace", "valgrind", "nm", "/usr/bin/time"):
        if shutil.which(tool) is None:
            sys.stderr.write("monitor_bench: %s is missing (scripts/setup --bench)\n" % tool)
            return 2
    if not os.path.isfile(netlab.VESPERIX):
        sys.stderr.write("monitor_bench: build vesperix first: %s\n" % netlab.VESPERIX)
        return 2

    def stop(sig, frame):
        raise SystemExit("monitor_bench: stopped by signal %d" % sig)
    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGALRM, stop)
    signal.alarm(RUN_LIMIT_S)
    scope = Scope()
    folder = tempfile.mkdtemp(prefix="vesperix-bench-out-")
    began = time.monotonic()
    figures = {}
    try:
        for phase in (footprint, heap, round_trips, stops):
            sys.stderr.write("monitor_bench: %s ...\n" % phase.__name__)
            figures.update(phase(scope, folder))
            scope.doCleanups()
    finally:
        signal.alarm(0)
        scope.doCleanups()
        _remove_tree(folder)
    print("vesperix on %s, %s UTC, in %.0f s:" % (
        machine(), datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M"),
        time.monotonic() - began))
    print()
    for line in table(figures):
        print(line)
    print()
    for line in details(figures):
        print("- " + line)
    return 0


if __name__ == "__main__":
    sys.exit(main())
