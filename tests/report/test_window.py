"""vesperix-report --since and --until: the forms of a window's edges, which
logs it opens, which rows it counts, the outages it cuts at its edges, and
that every form of the report keeps to it. Every build runs these cases, a
Windows one under Wine (see reportlab)."""

import calendar
import csv
import io
import json
import os
import shutil
import subprocess
import time
import unittest
import xml.etree.ElementTree as ElementTree

import netlab
import reportlab
from test_parts import PartsTest
from test_report import A_FOLDER, fixture

REPORT = reportlab.REPORT
HERE = os.path.dirname(os.path.abspath(__file__))
LIBFAKETIME = "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1"
TIMED_OUT = "Request timed-out."
OUTAGES = fixture("outages")  # 2026-12-02, runs of 4, 2 and 3 failures from 10:59:52 on


def row(clock, rtt, target="a"):
    """One row as the monitor writes it; `rtt` None for a timed-out probe."""
    if rtt is None:
        return "%s\t%s\t-1\t%s\r\n" % (clock, target, TIMED_OUT)
    return "%s\t%s\t%d\t\r\n" % (clock, target, rtt)


def report(*args):
    return reportlab.run(args, cwd=HERE)


def outages(target):
    return [(o["start"][11:19], o["end"][11:19], o["probes"], o["open"], o["cut_at_start"], o["cut_at_end"])
            for o in target["outages"]]


class WindowTest(PartsTest):
    def setUp(self):
        super().setUp()
        # Three days of target a: five answers at noon of the first, then an
        # outage of nine failures around 10:00 of the second, and ten answers
        # just after the third's midnight.
        self.logs = [
            self.log("2026-11-30.tsv", [row("12:00:%02d" % s, 5) for s in range(5)]),
            self.log("2026-12-01.tsv", [row("09:59:50", 3)] +
                     [row("09:59:%02d" % s, None) for s in range(52, 60, 2)] +
                     [row("10:00:%02d" % s, None) for s in range(0, 10, 2)] +
                     [row("10:00:10", 4), row("10:00:11", 6)]),
            self.log("2026-12-02.tsv", [row("00:00:%02d" % s, 7) for s in range(10)])]

    def summary(self, *args):
        done = report("--format", "json", *(list(args) + self.logs))
        self.assertEqual((done.returncode, done.stderr), (0, b""))
        return json.loads(done.stdout)


class Windows(WindowTest):
    def test_each_form_of_an_edge_and_what_the_window_holds(self):
        # (options, the window JSON tells, the days read, logs not read,
        #  probes counted, the outages of target a)
        whole = [("09:59:52", "10:00:10", 9, False, False, False)]
        for args, window, days, unread, probes, expected in (
                ([], None, ["11-30", "12-01", "12-02"], 0, 27, None),
                (["--since", "2026-12-01"], ("2026-12-01T00:00:00Z", None), ["12-01", "12-02"], 1, 22, whole),
                (["-s", "2026-12-01T10:00:00Z"], ("2026-12-01T10:00:00Z", None), ["12-01", "12-02"], 1, 17,
                 [("10:00:00", "10:00:10", 5, False, True, False)]),
                (["--since=2026-12-01 10:00:00"], ("2026-12-01T10:00:00Z", None), ["12-01", "12-02"], 1, 17,
                 [("10:00:00", "10:00:10", 5, False, True, False)]),
                (["-s2026-12-01T09:59:59Z"], ("2026-12-01T09:59:59Z", None), ["12-01", "12-02"], 1, 17,
                 [("09:59:59", "10:00:10", 5, False, True, False)]),
                (["--until", "2026-12-01T10:00:00Z"], (None, "2026-12-01T10:00:00Z"), ["11-30", "12-01"], 1, 10,
                 [("09:59:52", "10:00:00", 4, True, False, True)]),
                (["-u", "2026-12-02"], (None, "2026-12-02T00:00:00Z"), ["11-30", "12-01"], 1, 17, whole),
                (["-s", "2026-12-01T10:00:03", "-u", "2026-12-01T10:00:07Z", "-m", "2"],
                 ("2026-12-01T10:00:03Z", "2026-12-01T10:00:07Z"), ["12-01"], 2, 2,
                 [("10:00:03", "10:00:07", 2, True, True, True)]),
                # Two failures in the window: too few for an outage of 3.
                (["-s", "2026-12-01T10:00:03", "-u", "2026-12-01T10:00:07Z"],
                 ("2026-12-01T10:00:03Z", "2026-12-01T10:00:07Z"), ["12-01"], 2, 2, []),
                # The first row lies 11 s after the edge, too far to be cut.
                (["--since", "2026-12-01T09:59:39Z"], ("2026-12-01T09:59:39Z", None), ["12-01", "12-02"], 1, 22,
                 whole),
                (["--since", "2026-12-01T09:59:40Z"], ("2026-12-01T09:59:40Z", None), ["12-01", "12-02"], 1, 22,
                 whole),
                # Spans count back from --now.
                (["--now", "2026-12-01T10:00:20Z", "--since", "25s"], ("2026-12-01T09:59:55Z", None),
                 ["12-01", "12-02"], 1, 19, [("09:59:55", "10:00:10", 7, False, True, False)]),
                (["--now=2026-12-02T00:00:05Z", "--since=5s"], ("2026-12-02T00:00:00Z", None), ["12-02"], 2, 10,
                 []),
                (["--now=2026-12-02T00:00:05Z", "--since=1m"], ("2026-12-01T23:59:05Z", None),
                 ["12-01", "12-02"], 1, 10, []),
                # Two failures cut at the start: too few again.
                (["--now=2026-12-02T00:00:05Z", "--since=14h"], ("2026-12-01T10:00:05Z", None),
                 ["12-01", "12-02"], 1, 14, []),
                (["--now=2026-12-02T00:00:05Z", "-s", "2d", "-u", "1d"],
                 ("2026-11-30T00:00:05Z", "2026-12-01T00:00:05Z"), ["11-30", "12-01"], 1, 5, []),
                (["--now", "2026-12-02T00:00:05Z", "--until", "0s"], (None, "2026-12-02T00:00:05Z"),
                 ["11-30", "12-01", "12-02"], 0, 22, whole),
                (["--since", "2026-12-03"], ("2026-12-03T00:00:00Z", None), [], 3, 0, None)):
            with self.subTest(args=args):
                summary = self.summary(*args)
                self.assertEqual([f["date"][5:] for f in summary["files"]], days)
                targets = summary["targets"]
                self.assertEqual(sum(t["probes"] for t in targets), probes)
                if window is None:
                    self.assertNotIn("window", summary)
                else:
                    self.assertEqual((summary["window"]["since"], summary["window"]["until"]), window)
                    self.assertEqual(summary["window"]["files_outside"], unread)
                    # Every row read is inside or outside.
                    self.assertEqual(sum(f["rows"] - f["outside_rows"] for f in summary["files"]), probes)
                if expected is not None:
                    self.assertEqual(outages(targets[0]), expected)

    def test_edges_that_make_no_sense_are_refused(self):
        for args, problem in ((["--since", "yesterday"], "--since takes a UTC time"),
                              (["-u", "15"], "--until takes a UTC time"),
                              (["--now", "15m"], "--now takes a UTC time"),
                              (["-s", "2026-12-02", "-u", "2026-12-01"], "--since must lie before --until"),
                              (["-s", "2026-12-02", "-u", "2026-12-02"], "--since must lie before --until"),
                              (["--now", "2026-12-02", "-s", "1h", "-u", "2h"], "--since must lie before --until")):
            with self.subTest(args=args):
                done = report(*(args + self.logs))
                self.assertEqual((done.returncode, done.stdout), (1, b""))
                self.assertTrue(done.stderr.decode().startswith("vesperix-report: " + problem), done.stderr)

    def test_rows_outside_are_not_counted_anywhere(self):
        # Everything of the window is what a log holding only its rows says.
        inside = self.log("inside/2026-12-01.tsv", [row("09:59:50", 3)] +
                          [row("09:59:%02d" % s, None) for s in range(52, 60, 2)] +
                          [row("10:00:%02d" % s, None) for s in range(0, 10, 2)])
        windowed = self.summary("-s", "2026-12-01T09:00:00Z", "-u", "2026-12-01T10:00:10Z")
        done = report("--format", "json", inside)
        alone = json.loads(done.stdout)
        (a,), (b,) = windowed["targets"], alone["targets"]
        # The edge 10 s after its last probe: that time is observed, its
        # last run is cut there. Nothing else differs.
        self.assertEqual(outages(a), [("09:59:52", "10:00:10", 9, True, False, True)])
        self.assertEqual(a["observed_seconds"], b["observed_seconds"] + 2)
        self.assertEqual(a["down_seconds"], b["down_seconds"] + 2)
        for figures in (a, b):
            del figures["outages"], figures["observed_seconds"], figures["down_seconds"]
            del figures["availability_percent"]
        self.assertEqual(a, b)

    def test_a_log_whose_date_lies_outside_is_never_opened(self):
        # A folder named as a log can't be read: opening it would fail the report.
        unreadable = os.path.join(self.folder, "2026-11-29.tsv")
        os.mkdir(unreadable)
        done = report(unreadable, *self.logs)
        self.assertEqual(done.returncode, 2)
        self.assertIn("cannot read it: " + A_FOLDER, done.stderr.decode())
        done = report("--since", "2026-11-30", "--until", "2026-12-01T10:00:00Z", unreadable, *self.logs)
        self.assertEqual((done.returncode, done.stderr), (0, b""))
        self.assertIn(b"; 2 daily logs wholly outside, not read\n", done.stdout)

    def test_only_the_logs_inside_are_opened(self):
        reportlab.linux_only(self, "strace sees the files a Linux process opens")
        strace = shutil.which("strace")
        if strace is None:
            netlab.skip_or_fail(self, "needs strace")
        unreadable = os.path.join(self.folder, "2026-11-29.tsv")
        os.mkdir(unreadable)
        # The system calls of all its threads: the logs inside opened, no other.
        trace = os.path.join(self.folder, "trace")
        done = subprocess.run([strace, "-f", "-qq", "-o", trace, "-e", "trace=open,openat",
                               "env", "ASAN_OPTIONS=detect_leaks=0", REPORT, "--since", "2026-11-30",
                               "--until", "2026-12-01T10:00:00Z", unreadable] + self.logs,
                              capture_output=True, timeout=60)
        self.assertEqual(done.returncode, 0, done.stderr)
        with open(trace) as lines:
            calls = lines.read().splitlines()
        opened = {name for name in os.listdir(self.folder) if name.endswith(".tsv")
                  for line in calls if "/" + name + '"' in line}
        self.assertEqual(opened, {"2026-11-30.tsv", "2026-12-01.tsv"})

    def test_a_span_counts_back_from_the_real_clock(self):
        # The real clock, read around the run: a span of 25 s from it.
        before = int(time.time())
        summary = self.summary("--since", "25s")
        after = int(time.time())
        since = calendar.timegm(time.strptime(summary["window"]["since"], "%Y-%m-%dT%H:%M:%SZ"))
        self.assertTrue(before - 25 <= since <= after - 25, (before, summary["window"], after))

    def test_a_span_counts_back_from_the_clock(self):
        # Every build fixes "now" with --now in the cases above; this holds
        # the Linux program to a clock that a preload has moved.
        reportlab.linux_only(self, "libfaketime moves the clock of a Linux process")
        if not os.path.isfile(LIBFAKETIME):
            netlab.skip_or_fail(self, "needs libfaketime (Debian's faketime)")
        # The clock at 2026-12-01 10:00:20 UTC: the last 25 s hold 7 failures.
        # The preload goes on the program alone; a sanitizer build would
        # refuse it ahead of its runtime.
        env = dict(os.environ, TZ="UTC", LD_PRELOAD=LIBFAKETIME, FAKETIME="@2026-12-01 10:00:20",
                   FAKETIME_DONT_FAKE_MONOTONIC="1", ASAN_OPTIONS="verify_asan_link_order=0:detect_leaks=0")
        done = subprocess.run([REPORT, "--format", "json", "--since", "25s"] + self.logs, capture_output=True,
                              timeout=60, cwd=HERE, env=env)
        self.assertEqual(done.returncode, 0, done.stderr)
        summary = json.loads(done.stdout)
        self.assertEqual(summary["window"]["since"], "2026-12-01T09:59:55Z")
        self.assertEqual(outages(summary["targets"][0]), [("09:59:55", "10:00:10", 7, False, True, False)])


class EveryOutput(WindowTest):
    WINDOW = ["--since", "2026-12-02T10:59:53Z", "--until", "2026-12-02T11:00:10Z", "-m", "2"]

    def test_text_csv_and_json_of_a_window_on_the_outages_fixture(self):
        for form, expected in (("text", "window.txt"), ("csv", "window.csv"), ("json", "window.json")):
            with self.subTest(form=form):
                done = report("--format", form, *(self.WINDOW + OUTAGES))
                self.assertEqual((done.returncode, done.stderr), (0, b""))
                with open(os.path.join(HERE, "expected", expected), "rb") as wanted:
                    self.assertEqual(done.stdout.decode(), wanted.read().decode())

    def test_the_text_says_the_window_with_the_edges_it_has(self):
        for args, heading in (
                (["-s", "2026-12-02T11:00:00Z"],
                 ["1 daily log, 2026-12-02: 15 rows, 0 skipped",
                  "window from 2026-12-02 11:00:00 UTC on: 8 rows inside it, 7 outside"]),
                (["-u", "2026-12-02T11:00:00Z"],
                 ["1 daily log, 2026-12-02: 15 rows, 0 skipped",
                  "window before 2026-12-02 11:00:00 UTC: 7 rows inside it, 8 outside"]),
                (["-s", "2026-12-01", "-u", "2026-12-02"],
                 ["0 daily logs: 0 rows, 0 skipped",
                  "window 2026-12-01 00:00:00 to 2026-12-02 00:00:00 UTC: 0 rows inside it, 0 outside; "
                  "1 daily log wholly outside, not read"])):
            with self.subTest(args=args):
                done = report(*(args + OUTAGES))
                self.assertEqual((done.returncode, done.stderr), (0, b""))
                self.assertEqual(done.stdout.decode().splitlines()[:2], heading)

    def test_the_csv_tables_hold_what_the_json_does(self):
        done = report("--format", "csv", *(self.WINDOW + OUTAGES))
        tables = [list(csv.DictReader(io.StringIO(table))) for table in done.stdout.decode().split("\n\n")]
        files, targets, _, outage_table, hours, window = tables
        summary = json.loads(report("--format", "json", *(self.WINDOW + OUTAGES)).stdout)
        (target,) = summary["targets"]
        self.assertEqual([(o["start"], o["end"], o["cut_at_start"], o["cut_at_end"]) for o in outage_table],
                         [(o["start"], o["end"], str(o["cut_at_start"]).lower(), str(o["cut_at_end"]).lower())
                          for o in target["outages"]])
        self.assertEqual((int(targets[0]["probes"]), int(files[0]["outside_rows"])),
                         (target["probes"], summary["files"][0]["outside_rows"]))
        self.assertEqual(window, [{"since": "2026-12-02T10:59:53Z", "until": "2026-12-02T11:00:10Z",
                                   "files_outside": "0"}])
        self.assertEqual(sum(int(h["probes"]) for h in hours), target["probes"])

    def test_the_chart_spans_the_window_and_draws_only_what_lies_in_it(self):
        chart = os.path.join(self.folder, "chart.svg")
        done = report("--svg", chart, *(self.WINDOW + OUTAGES))
        self.assertEqual(done.returncode, 0, done.stderr)
        svg = ElementTree.parse(chart).getroot()
        ns = "{http://www.w3.org/2000/svg}"
        shades = [r for r in svg.findall(ns + "rect") if r.get("fill-opacity") == "0.15" and r.get("stroke") is None]
        # The window's 17 seconds span the plot, 72 to 952; the three
        # outages lie at 10:59:53 (its start), 11:00:01 and 11:00:07 to its end.
        self.assertEqual([(round(float(r.get("x"))), round(float(r.get("x")) + float(r.get("width"))))
                          for r in shades],
                         [(72, 0 + 72 + round(6 * 880 / 17)), (72 + round(8 * 880 / 17), 72 + round(12 * 880 / 17)),
                          (72 + round(14 * 880 / 17), 952)])
        # Failed probes inside the window: 7; each second is a column or more apart.
        # (The key to the marks is a group of its own.)
        marks = [r for r in svg.findall(ns + "rect") if r.get("fill") == "#d62728" and r.get("fill-opacity") is None
                 and r.get("stroke") is None]
        self.assertEqual(len(marks), 7)
        empty = os.path.join(self.folder, "empty.svg")
        done = report("--svg", empty, "--since", "2026-12-03", *OUTAGES)
        self.assertEqual(done.returncode, 0, done.stderr)
        with open(empty) as picture:
            self.assertIn("No rows in the window.", picture.read())


if __name__ == "__main__":
    unittest.main()
