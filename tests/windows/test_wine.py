"""The 64-bit Windows program under wine64, each test in a network namespace
and a Wine prefix of its own: its command line, probes through Wine's ICMP
echo functions, console stop events, the daily log and the binding of the
echo functions from the system directory."""

import datetime
import os
import re
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

WINE = "/usr/lib/wine/wine64"
PROGRAM = os.environ.get("VESPERIX_EXE", "")
BUILD_DIR = os.environ.get("VESPERIX_BUILD_DIR", "")
FAKE_ICMP = os.path.join(BUILD_DIR, "tests", "echo_library", "icmp-fake.dll")
USAGE = "Usage: vesperix <IPv4 address>\r\n"


class WinePrefix:
    """A fresh Wine prefix whose services start inside `namespace`."""

    def __init__(self, test, namespace, overrides=""):
        self.path = tempfile.mkdtemp(prefix="vesperix-wine-")
        self.env = dict(os.environ, WINEPREFIX=self.path, WINEDEBUG="-all",
                        WINEDLLOVERRIDES=";".join(filter(None, ["mscoree,mshtml=", overrides])))
        test.addCleanup(self.end)
        # The first program of a prefix starts Wine's services, among them
        # the one that does the ICMP work: it must start in the namespace.
        subprocess.run(namespace.command([WINE, "wineboot", "--init"]), env=self.env,
                       capture_output=True, timeout=180, check=True)

    def system32(self, name):
        return os.path.join(self.path, "drive_c", "windows", "system32", name)

    def end(self):
        subprocess.run(["wineserver", "-k"], env=self.env, capture_output=True, timeout=60)
        shutil.rmtree(self.path, ignore_errors=True)


def run_for(monitor, seconds):
    """Lets `monitor` run `seconds` from its start; output to a pipe (a
    terminal would make Wine draw a console) arrives only at exit."""
    time.sleep(max(0.0, seconds - (time.monotonic() - monitor.started)))


class WineTest(netlab.NamespaceTest):
    program_under_test = PROGRAM

    def setUp(self):
        super().setUp()
        if not os.access(WINE, os.X_OK):
            if os.environ.get("CI") == "true":
                self.fail("needs wine64 (a skip is a failure under CI)")
            self.skipTest("needs wine64")
        self.ns = netlab.Namespace(self)

    def monitor(self, wine, args, **kwargs):
        return netlab.Monitor(self, self.ns, args, program=PROGRAM, launcher=[WINE], env=wine.env,
                              **kwargs)


class CommandLine(WineTest):
    def test_no_argument_prints_the_usage_line_and_exits_1(self):
        wine = WinePrefix(self, self.ns)
        status, out, _ = self.monitor(wine, []).wait(timeout=60)
        self.assertEqual((status, out), (1, USAGE))


class Probing(WineTest):
    def test_probes_of_loopback_end_on_sigint_with_ctrl_c_and_status_0(self):
        wine = WinePrefix(self, self.ns)
        monitor = self.monitor(wine, ["127.0.0.1"])
        run_for(monitor, 6)
        monitor.signal(signal.SIGINT)
        status, out, err = monitor.wait(timeout=30)
        self.assertEqual(status, 0, err)
        lines = out.split("\n")[:-1]
        self.assertEqual(lines.count("Ctrl+C\r"), 1, out)
        probes = [line for line in lines if line != "Ctrl+C\r"]
        self.assertGreaterEqual(len(probes), 3)
        for line in probes:
            self.assertRegex(line, r"^\d+ms\r$")
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
    def test_icmp_errors_are_reported_by_their_texts_on_console_and_in_the_log(self):
        # Windows hands an ICMP error back as a reply record whose Status
        # names it: each must be reported as that failure, not as a time.
        steps = [step for step, _ in ERRORS]
        echohost.scripted_host(self, self.ns, {"flows": [steps], "requests": len(steps),
                                               "seconds": 120})
        wine = WinePrefix(self, self.ns)
        monitor = self.monitor(wine, [echohost.HOST_ADDRESS])
        run_for(monitor, len(steps) * 1.2 + 4)
        monitor.signal(signal.SIGINT)
        status, out, _ = monitor.wait(timeout=30)
        self.assertEqual(status, 0)
        lines = [line.rstrip("\r") for line in out.split("\n")[:-1] if line != "Ctrl+C\r"]
        self.assertGreaterEqual(len(lines), len(ERRORS), out)
        for (step, text), line in zip(ERRORS, lines):
            if text is None:
                self.assertRegex(line, r"^(5\d|6\d)ms$", step)
            else:
                self.assertEqual(line, text, step)
        netlab.check_log_rows(self, monitor.cwd, echohost.HOST_ADDRESS, lines[:len(ERRORS)])


class Binding(WineTest):
    def test_the_second_library_of_the_system_directory_serves_when_the_first_does_not_load(self):
        wine = WinePrefix(self, self.ns, overrides="iphlpapi=d;icmp=n")
        shutil.copy(FAKE_ICMP, wine.system32("icmp.dll"))
        monitor = self.monitor(wine, ["127.0.0.1"])
        run_for(monitor, 4)
        monitor.signal(signal.SIGINT)
        status, out, _ = monitor.wait(timeout=30)
        self.assertEqual(status, 0)
        self.assertRegex(out, r"^(44ms\r\n)+Ctrl\+C\r\n(44ms\r\n)?$")

    def test_without_either_library_it_says_so_and_exits_2(self):
        wine = WinePrefix(self, self.ns, overrides="iphlpapi,icmp=d")
        status, out, err = self.monitor(wine, ["127.0.0.1"]).wait(timeout=60)
        self.assertEqual((status, out), (2, ""))
        self.assertIn(r"C:\windows\system32\iphlpapi.dll", err)
        self.assertIn(r"C:\windows\system32\icmp.dll", err)


if __name__ == "__main__":
    unittest.main()
