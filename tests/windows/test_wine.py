"""The Windows program of the build under test under the Wine loader of its
own architecture (the 32-bit one under the 32-bit loader), each test in a
network namespace and a Wine prefix of its own: its command line, probes
through Wine's ICMP echo functions, the console control events, the daily
log and its sharing with a second Windows process, the binding of the echo
functions from the system directory, and the build's vesperix-report on the
log. Both builds run these same cases."""

import collections
import datetime
import json
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import echohost  # noqa: E402
import netlab  # noqa: E402
import winelab  # noqa: E402

PROGRAM = os.environ.get("VESPERIX_EXE", "")
REPORT = os.environ.get("VESPERIX_REPORT", "")
CONSOLE_EVENT = os.environ.get("VESPERIX_CONSOLE_EVENT", "")
FILE_SHARE = os.environ.get("VESPERIX_FILE_SHARE", "")
BUILD_DIR = os.environ.get("VESPERIX_BUILD_DIR", "")
FAKE_ICMP = os.path.join(BUILD_DIR, "tests", "echo_library", "icmp-fake.dll")
USAGE = "Usage: vesperix <IPv4 address>\r\n"
TIMED_OUT = "Request timed-out."
# A silent host holds each cycle's log open for the whole 1000 ms timeout;
# its cycles are 2 s apart, the second of them the pause.
CYCLE = 2.0


def console_lines(out):
    """The lines of console output `out`, each of which must end in CR LF."""
    lines = out.split("\n")
    assert lines[-1] == "", "output ends inside a line: %r" % out
    for line in lines[:-1]:
        assert line.endswith("\r"), "a line without CR LF: %r" % out
    return [line[:-1] for line in lines[:-1]]


def row_count(folder):
    return len(netlab.log_rows(folder))


def wait_for_rows(test, folder, count, timeout=30.0):
    """Waits until the day's log in `folder` has `count` rows; returns the
    time they were seen, soon after the cycle that wrote the last one ended."""
    deadline = time.monotonic() + timeout
    while row_count(folder) < count:
        if time.monotonic() > deadline:
            test.fail("the log has %d rows, not %d, after %g s"
                      % (row_count(folder), count, timeout))
        time.sleep(0.02)
    return time.monotonic()


def sleep_until(moment):
    time.sleep(max(0.0, moment - time.monotonic()))


class WineTest(netlab.NamespaceTest):
    program_under_test = PROGRAM

    def setUp(self):
        super().setUp()
        reason = winelab.unavailable(PROGRAM)
        if reason:
            netlab.skip_or_fail(self, reason)
        self.ns = netlab.Namespace(self)

    def prefix(self, persistent=False):
        """A fresh prefix of the program's loader, booted in the namespace;
        see winelab.Prefix for `persistent`."""
        prefix = winelab.Prefix(PROGRAM, self.ns.command, persistent)
        self.addCleanup(prefix.end)
        return prefix

    def monitor(self, prefix, args, overrides="", **kwargs):
        return netlab.Monitor(self, self.ns, args, program=PROGRAM, launcher=[prefix.loader],
                              env=prefix.env_with(overrides), **kwargs)

    def helper(self, prefix, args, cwd):
        """A test helper of the program's architecture, in the namespace and
        the prefix, with pipes on all three standard streams."""
        process = subprocess.Popen(self.ns.command([prefix.loader] + args), cwd=cwd,
                                   env=prefix.env, stdin=subprocess.PIPE,
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE)

        def end():
            if process.poll() is None:
                process.kill()
            process.communicate(timeout=30)
        self.addCleanup(end)
        return process

    def run_folder(self):
        folder = tempfile.mkdtemp(prefix="vesperix-run-")
        self.addCleanup(shutil.rmtree, folder, True)
        return folder


class CommandLine(WineTest):
    def test_no_argument_prints_the_usage_line_and_exits_1(self):
        prefix = self.prefix()
        status, out, _ = self.monitor(prefix, []).wait(timeout=60)
        self.assertEqual((status, out), (1, USAGE))


class Probing(WineTest):
    def test_probes_of_loopback_end_on_sigint_with_ctrl_c_and_status_0(self):
        prefix = self.prefix()
        monitor = self.monitor(prefix, ["127.0.0.1"])
        wait_for_rows(self, monitor.cwd, 3)
        # Wine turns SIGINT into the console's Ctrl+C event.
        monitor.signal(signal.SIGINT)
        status, out, err = monitor.wait(timeout=30)
        self.assertEqual(status, 0, err)
        lines = console_lines(out)
        self.assertEqual(lines.count("Ctrl+C"), 1, out)
        probes = [line for line in lines if line != "Ctrl+C"]
        self.assertGreaterEqual(len(probes), 3)
        for line in probes:
            self.assertRegex(line, r"^\d+ms$")
        # The day's log, named by the UTC date, in CR LF rows.
        day = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d")
        with open(os.path.join(monitor.cwd, day + ".tsv"), "rb") as log:
            rows = log.read().split(b"\r\n")
        self.assertEqual(rows[-1], b"")
        self.assertEqual(len(rows) - 1, len(probes))
        for row in rows[:-1]:
            self.assertRegex(row, rb"^\d\d:\d\d:\d\d\t127\.0\.0\.1\t\d+\t$")


# ICMP errors whose status codes Windows documents by name, with the texts
# they are reported by.
ERRORS = [
    ("error 3/0", "Destination Unreachable: Network unreachable."),
    ("error 3/1", "Destination Unreachable: Host unreachable."),
    ("error 3/2", "Destination Unreachable: Protocol unreachable."),
    ("error 3/3", "Destination Unreachable: Port unreachable."),
    ("error 3/4", "Destination Unreachable: Fragmentation needed, but DF-flag set."),
    ("error 3/5", "Destination Unreachable: Source route failed."),
    ("error 11/0 from=10.77.0.254", "Time Exceeded: TTL expired in transit."),
    ("error 11/1 from=10.77.0.254", "Time Exceeded: Fragment reassembly time exceeded."),
    ("error 12/0 from=10.77.0.254", "Parameter Problem: Bad IP header."),
    ("error 4/0", "Source Quench."),
    ("reply after=50", None),
]


class ScriptedHost(WineTest):
    def test_icmp_errors_are_reported_by_their_texts_on_console_in_the_log_and_by_the_report(self):
        # Windows hands an ICMP error back as a reply record whose Status
        # names it: each must be reported as that failure, not as a time.
        steps = [step for step, _ in ERRORS]
        echohost.scripted_host(self, self.ns, {"flows": [steps], "requests": len(steps),
                                               "seconds": 120})
        # The report starts as the monitor ends: a server that ended with the
        # monitor's last process could refuse it.
        prefix = self.prefix(persistent=True)
        monitor = self.monitor(prefix, [echohost.HOST_ADDRESS])
        wait_for_rows(self, monitor.cwd, len(steps), timeout=60)
        monitor.signal(signal.SIGINT)
        status, out, _ = monitor.wait(timeout=30)
        self.assertEqual(status, 0)
        lines = [line for line in console_lines(out) if line != "Ctrl+C"]
        self.assertGreaterEqual(len(lines), len(ERRORS), out)
        for (step, text), line in zip(ERRORS, lines):
            if text is None:
                self.assertRegex(line, r"^\d+ms$", step)
                self.assertGreaterEqual(int(line[:-2]), 50, step)
            else:
                self.assertEqual(line, text, step)
        netlab.check_log_rows(self, monitor.cwd, echohost.HOST_ADDRESS, lines[:len(ERRORS)])

        # The build's report reads the log as the monitor wrote it, named as
        # a Windows user would name it: the C runtime expands the wildcard.
        done = subprocess.run(self.ns.command([prefix.loader, REPORT, "--format", "json", "*.tsv"]),
                              cwd=monitor.cwd, env=prefix.env, capture_output=True, timeout=60)
        self.assertEqual((done.returncode, done.stderr), (0, b""))
        console_lines(done.stdout.decode())
        summary = json.loads(done.stdout)
        rows = netlab.log_rows(monitor.cwd)
        logs = []
        for name in sorted(name for name in os.listdir(monitor.cwd) if name.endswith(".tsv")):
            with open(os.path.join(monitor.cwd, name), "rb") as log:
                logs.append((name, log.read().count(b"\r\n"), 0))
        self.assertEqual([(f["file"], f["rows"], f["skipped_rows"]) for f in summary["files"]], logs)
        (target,) = summary["targets"]
        failed = [row[3] for row in rows if row[2] == "-1"]
        self.assertEqual((target["target"], target["probes"], target["lost"]),
                         (echohost.HOST_ADDRESS, len(rows), len(failed)))
        self.assertEqual({f["text"]: f["count"] for f in target["failures"]}, collections.Counter(failed))
        # The ten errors in a row, then the answer: one outage of them all.
        errors = [text for _, text in ERRORS if text is not None]
        self.assertEqual(target["outages"][0]["failures"], errors)
        self.assertEqual((target["outages"][0]["probes"], target["outages"][0]["open"]), (len(errors), False))


# DLL overrides of one run, with a fake icmp.dll in the system directory
# whose echoes all take 44 ms, and whether the fake serves.
BINDINGS = [
    ("iphlpapi.dll serves first, though an icmp.dll is there", "icmp=n", False),
    ("icmp.dll serves when iphlpapi.dll does not load", "iphlpapi=d;icmp=n", True),
]


class Binding(WineTest):
    def test_the_echo_functions_come_from_the_first_library_of_the_system_directory_that_loads(self):
        prefix = self.prefix()
        shutil.copy(FAKE_ICMP, prefix.system32("icmp.dll"))
        for name, overrides, fake in BINDINGS:
            with self.subTest(name):
                monitor = self.monitor(prefix, ["127.0.0.1"], overrides=overrides)
                wait_for_rows(self, monitor.cwd, 2)
                monitor.signal(signal.SIGINT)
                status, out, _ = monitor.wait(timeout=30)
                self.assertEqual(status, 0)
                lines = console_lines(out)
                self.assertEqual(lines.count("Ctrl+C"), 1, out)
                probes = [line for line in lines if line != "Ctrl+C"]
                self.assertGreaterEqual(len(probes), 2, out)
                for line in probes:
                    self.assertRegex(line, r"^\d+ms$")
                    self.assertEqual(line == "44ms", fake, out)
        with self.subTest("neither library loads"):
            monitor = self.monitor(prefix, ["127.0.0.1"], overrides="iphlpapi,icmp=d")
            status, out, err = monitor.wait(timeout=60)
            self.assertEqual((status, out), (2, ""))
            self.assertIn(r"C:\windows\system32\iphlpapi.dll", err)
            self.assertIn(r"C:\windows\system32\icmp.dll", err)


class EventRun:
    """vesperix probing a host that never answers, started by the console-event
    helper, which delivers `event` once told to."""

    def __init__(self, test, prefix, event):
        self.folder = test.run_folder()
        self.helper = test.helper(prefix, [CONSOLE_EVENT, event, winelab.windows_path(PROGRAM),
                                           echohost.HOST_ADDRESS], self.folder)

    def deliver_within_a_cycle(self, test, rows=2):
        """Delivers the event 1.3 s after the log has `rows` rows: while the
        next cycle waits for its echo. Returns how many rows it had then."""
        seen = wait_for_rows(test, self.folder, rows)
        sleep_until(seen + CYCLE / 2 + 0.3)
        self.rows_before = row_count(self.folder)
        self.helper.stdin.write(b"\n")
        self.helper.stdin.flush()
        return self.rows_before

    def wait(self):
        out, err = self.helper.communicate(timeout=60)
        return self.helper.returncode, out.decode(errors="replace"), err.decode(errors="replace")


# Each console control event, with how the helper delivers it and what ends
# the program: Ctrl+C through the console the helper shares with it, the
# others as Windows' console delivers each event, on a new thread of the
# program at kernel32's CtrlRoutine (Wine's console answers Ctrl+Break with
# STATUS_NOT_IMPLEMENTED and never sends the other three).
EVENTS = [
    ("ctrl-c", None),
    ("ctrl-break", None),
    ("close", "console-event: ended the program once its handler returned"),
    ("logoff", "console-event: ended the program once its handler returned"),
    ("shutdown", "console-event: ended the program once its handler returned"),
]


class EventCases(WineTest):
    events = ()

    def check_events(self):
        """Each event, delivered while a cycle waits for its echo, writes
        "Ctrl+C"; that cycle still writes its console line and its row. After
        Ctrl+C and Ctrl+Break the program ends by itself with status 0; after
        the others the platform ends it, once its handler has returned."""
        netlab.silent_host(self, self.ns)
        prefix = self.prefix()
        for event, ending in [case for case in EVENTS if case[0] in self.events]:
            with self.subTest(event):
                run = EventRun(self, prefix, event)
                before = run.deliver_within_a_cycle(self)
                status, out, err = run.wait()
                lines = console_lines(out)
                self.assertEqual(lines, [TIMED_OUT] * before + ["Ctrl+C", TIMED_OUT], err)
                netlab.check_log_rows(self, run.folder, echohost.HOST_ADDRESS,
                                      [TIMED_OUT] * (before + 1))
                self.assertEqual(row_count(run.folder), before + 1)
                if ending is None:
                    self.assertEqual((status, err), (0, ""))
                else:
                    self.assertEqual(err, ending + "\r\n")


class ConsoleEvents(EventCases):
    events = ("ctrl-c", "ctrl-break")

    def test_ctrl_c_and_ctrl_break_let_the_cycle_under_way_finish_and_exit_0(self):
        self.check_events()


class ClosingEvents(EventCases):
    events = ("close", "logoff", "shutdown")

    def test_close_logoff_and_shutdown_still_write_the_cycle_under_way(self):
        self.check_events()


class LogSharing(WineTest):
    def ask(self, helper, command):
        """Has the file-share helper run `command`; returns its answer."""
        helper.stdin.write(command.encode() + b"\n")
        helper.stdin.flush()
        ready, _, _ = select.select([helper.stdout], [], [], 30)
        self.assertTrue(ready, "no answer to " + command)
        return helper.stdout.readline().decode().rstrip("\r\n")

    def test_another_process_reads_and_appends_within_a_cycle_and_moves_the_log_between(self):
        netlab.silent_host(self, self.ns)
        prefix = self.prefix()
        folder = self.run_folder()
        helper = self.helper(prefix, [FILE_SHARE], folder)
        day = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d") + ".tsv"
        # The helper is ready once it answers.
        self.assertEqual(self.ask(helper, "read nothing-here.tsv"), "error 2")
        monitor = self.monitor(prefix, [echohost.HOST_ADDRESS], cwd=folder)

        # Within the second cycle, while its echo waits: the log is open.
        sleep_until(wait_for_rows(self, folder, 1) + CYCLE / 2 + 0.3)
        answers = [self.ask(helper, command) for command in
                   ("read " + day, "append " + day, "delete " + day, "rename %s moved.tsv" % day)]
        self.assertEqual(row_count(folder), 1, "the cycle ended before the last answer")
        # 32: ERROR_SHARING_VIOLATION.
        self.assertEqual(answers, ["ok", "ok", "error 32", "error 32"])

        # In the pause after it: the log is closed and can be moved away.
        sleep_until(wait_for_rows(self, folder, 2) + 0.3)
        self.assertEqual(self.ask(helper, "rename %s moved.tsv" % day), "ok")
        wait_for_rows(self, folder, 1)
        monitor.signal(signal.SIGINT)
        status, out, _ = monitor.wait(timeout=30)
        self.assertEqual(status, 0)
        lines = [line for line in console_lines(out) if line != "Ctrl+C"]
        with open(os.path.join(folder, "moved.tsv"), "rb") as moved:
            self.assertEqual(moved.read().count(b"\r\n"), 2)
        # The next cycle started a new file, and every cycle has its row.
        netlab.check_log_rows(self, folder, echohost.HOST_ADDRESS, lines[2:])
        self.assertEqual(row_count(folder), len(lines) - 2)


if __name__ == "__main__":
    unittest.main()
