"""vesperix-report reads several logs at once, each apart, and joins what
they say in the order of their dates: what goes on from one log to the next
(a run of failures, the step between probes, the hours of one date in two
logs) and the order of what it says on standard error come out as if the
logs were read one after another."""

import json
import os
import random
import shutil
import tempfile
import unittest

import reportlab
from test_report import ReportTest

TIMED_OUT = "Request timed-out."


def report(*args):
    return reportlab.run(args)


def report_json(test, *args):
    done = report("--format", "json", *args)
    test.assertEqual(done.returncode, 0, done.stderr)
    return json.loads(done.stdout)


def row(clock, target, rtt):
    """One row as the monitor writes it; `rtt` None for a timed-out probe."""
    if rtt is None:
        return "%s\t%s\t-1\t%s\r\n" % (clock, target, TIMED_OUT)
    return "%s\t%s\t%d\t\r\n" % (clock, target, rtt)


class PartsTest(ReportTest):
    def setUp(self):
        super().setUp()
        self.folder = tempfile.mkdtemp(prefix="vesperix-parts-")
        self.addCleanup(shutil.rmtree, self.folder, True)

    def log(self, name, rows):
        path = os.path.join(self.folder, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w", newline="") as log:
            log.write("".join(rows))
        return path


class AcrossLogs(PartsTest):
    def test_a_run_of_failures_goes_on_through_a_log_that_holds_nothing_else(self):
        # Two failures before midnight, a whole day of them in the next log,
        # one more after the next midnight and then the answer: one run
        # across three logs. Target b is missing from the middle log.
        whole_day = [row("%02d:%02d:%02d" % (s // 3600, s // 60 % 60, s % 60), "a", None)
                     for s in range(0, 86400, 2)]
        logs = [self.log("2026-12-05.tsv", [row("23:59:50", "a", 3), row("23:59:56", "a", None),
                                            row("23:59:58", "a", None), row("23:59:59", "b", 4)]),
                self.log("2026-12-06.tsv", whole_day),
                self.log("2026-12-07.tsv", [row("00:00:00", "a", None), row("00:00:02", "a", 4),
                                            row("00:00:05", "b", 4)])]
        run = [("2026-12-05T23:59:56Z", "2026-12-07T00:00:02Z", 86406, 43203, False)]
        for least, outages in (("3", run), ("43203", run), ("43204", [])):
            with self.subTest(least=least):
                a, b = report_json(self, "--min-outage", least, *reversed(logs))["targets"]
                self.assertEqual([(o["start"], o["end"], o["duration_seconds"], o["probes"], o["open"])
                                  for o in a["outages"]], outages)
                self.assertEqual((a["probes"], a["lost"], a["observed_seconds"], a["gaps"]),
                                 (43205, 43203, 86412, 0))
                self.assertEqual((b["probes"], b["observed_seconds"], b["gaps"]), (2, 0, 1))

    def test_a_run_ends_at_the_first_answer_of_a_later_log_and_breaks_off_at_a_gap(self):
        logs = [self.log("2026-12-05.tsv", [row("23:59:57", "a", None), row("23:59:59", "a", None)]),
                self.log("2026-12-06.tsv", [row("00:00:01", "a", None), row("00:00:02", "a", 5),
                                            row("12:00:00", "a", None), row("12:00:02", "a", None)]),
                self.log("2026-12-07.tsv", [row("00:00:00", "a", None), row("00:00:02", "a", 2)])]
        (a,) = report_json(self, "--min-outage", "2", *logs)["targets"]
        self.assertEqual([(o["start"], o["end"], o["probes"], o["open"]) for o in a["outages"]], [
            ("2026-12-05T23:59:57Z", "2026-12-06T00:00:02Z", 3, False),
            ("2026-12-06T12:00:00Z", "2026-12-06T12:00:02Z", 2, True)])  # then a gap of 12 hours
        self.assertEqual((a["gaps"], a["down_seconds"], a["observed_seconds"]), (2, 7, 9))

    def test_two_logs_of_one_date_in_two_folders_are_one_day(self):
        rng = random.Random(5)
        first, second = [], []
        for second_of_day in range(7200, 7200 + 4000, 2):
            clock = "%02d:%02d:%02d" % (second_of_day // 3600, second_of_day // 60 % 60, second_of_day % 60)
            for rows, target in ((first, "a"), (second, "a"), (second, "b")):
                rows.append(row(clock, target, None if rng.random() < 0.1 else rng.randrange(1, 30)))
        apart = [self.log("one/2026-12-08.tsv", first), self.log("two/2026-12-08.tsv", second),
                 self.log("2026-12-09.tsv", [row("00:00:00", "a", 1)])]
        together = [self.log("both/2026-12-08.tsv", first + second), apart[2]]
        joined, whole = report_json(self, *apart), report_json(self, *together)
        self.assertEqual(joined["targets"], whole["targets"])
        self.assertEqual([h["hour"][11:13] for h in joined["targets"][0]["hours"]], ["02", "03", "00"])

    def test_many_logs_in_any_order_say_the_same(self):
        rng = random.Random(9)
        logs = []
        for day in range(1, 29):
            rows, second_of_day = [], rng.randrange(0, 600)
            while second_of_day < 86400 and len(rows) < 300:
                for target in rng.sample(["a", "b", "c", "d"], rng.randrange(1, 4)):
                    rows.append(row("%02d:%02d:%02d" % (second_of_day // 3600, second_of_day // 60 % 60,
                                                       second_of_day % 60),
                                    target, None if rng.random() < 0.3 else rng.randrange(1, 9)))
                second_of_day += rng.choice([1, 2, 2, 3, 30, 2000])
            logs.append(self.log("2026-11-%02d.tsv" % day, rows))
        ordered = report("--format", "csv", *logs)
        self.assertEqual((ordered.returncode, ordered.stderr), (0, b""))
        for seed in range(3):
            shuffled = list(logs)
            random.Random(seed).shuffle(shuffled)
            self.assertEqual(report("--format", "csv", *shuffled).stdout, ordered.stdout)


class SkippedLines(PartsTest):
    def test_they_are_named_in_the_order_of_the_logs_however_many(self):
        # Thousands of skipped lines in each log: more than a log may hold
        # while those before it are read.
        logs = []
        for day in range(1, 7):
            rows = ["not a row %d\r\n" % n if n % 3 else row("10:00:%02d" % (n % 60), "a", 2)
                    for n in range(6000)]
            logs.append(self.log("2026-12-%02d.tsv" % day, rows))
        done = report("--format", "json", *reversed(logs))
        self.assertEqual(done.returncode, 0, done.stderr[-2000:])
        lines = done.stderr.decode().splitlines()
        self.assertEqual(lines, ["vesperix-report: %s:%d: skipped: not four tab-separated fields" % (log, n + 1)
                                 for log in logs for n in range(6000) if n % 3])
        self.assertEqual([f["skipped_rows"] for f in json.loads(done.stdout)["files"]], [4000] * 6)

    def test_those_of_later_logs_are_not_named_when_a_log_cannot_be_read(self):
        logs = [self.log("2026-12-%02d.tsv" % day, ["not a row\r\n"] * 3000) for day in (1, 2, 4, 5)]
        missing = os.path.join(self.folder, "2026-12-03.tsv")
        done = report(missing, *logs)
        self.assertEqual((done.returncode, done.stdout), (2, b""))
        lines = done.stderr.decode().splitlines()
        self.assertEqual(lines, ["vesperix-report: %s:%d: skipped: not four tab-separated fields" % (log, n)
                                 for log in logs[:2] for n in range(1, 3001)] +
                         ["vesperix-report: %s: cannot read it: No such file or directory" % missing])


if __name__ == "__main__":
    unittest.main()
