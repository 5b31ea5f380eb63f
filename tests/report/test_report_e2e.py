"""The report on a log the monitor wrote: vesperix probes a scripted host
that drops a stretch of requests, and the report finds exactly that outage."""

import datetime
import glob
import json
import os
import subprocess
import unittest

import echohost
import netlab

REPORT = os.environ.get("VESPERIX_REPORT_BIN", "")
TIMED_OUT = "Request timed-out."


def log_rows(folder):
    """(ISO time, round trip) of every row of the daily logs in `folder`."""
    rows = []
    for path in sorted(glob.glob(os.path.join(folder, "*.tsv"))):
        day = datetime.date.fromisoformat(os.path.basename(path)[:10])
        with open(path, "rb") as log:
            for line in log.read().split(b"\r\n")[:-1]:
                clock, _, rtt, _ = line.decode().split("\t")
                rows.append(("%sT%sZ" % (day.isoformat(), clock), int(rtt)))
    return rows


class MonitorLog(netlab.NamespaceTest):
    def test_the_report_finds_the_stretch_the_host_dropped(self):
        self.assertTrue(os.path.isfile(REPORT), "VESPERIX_REPORT_BIN names no program: %r" % REPORT)
        flow = {"steps": ["reply"] * 3 + ["drop"] * 5, "then": "reply"}
        run = echohost.ScriptedRun(self, "raw", {"flows": [flow], "requests": 12, "seconds": 60})
        lines = run.lines(11, timeout=40)
        self.assertEqual(lines[3:8], [TIMED_OUT] * 5)
        rows = log_rows(run.monitor.cwd)
        self.assertGreaterEqual(len(rows), 10)
        self.assertEqual([rtt == -1 for _, rtt in rows[:9]], [False] * 3 + [True] * 5 + [False])
        logs = sorted(glob.glob(os.path.join(run.monitor.cwd, "*.tsv")))

        done = subprocess.run([REPORT, "--format", "json"] + logs, capture_output=True, timeout=60)
        self.assertEqual((done.returncode, done.stderr), (0, b""))
        summary = json.loads(done.stdout)
        self.assertEqual(sum(log["skipped_rows"] for log in summary["files"]), 0)
        (target,) = summary["targets"]
        self.assertEqual((target["target"], target["probes"], target["lost"]),
                         (echohost.HOST_ADDRESS, len(rows), 5))
        # From the first dropped request to the answer that followed it.
        start, end = rows[3][0], rows[8][0]
        seconds = (datetime.datetime.fromisoformat(end[:-1]) -
                   datetime.datetime.fromisoformat(start[:-1])).total_seconds()
        self.assertEqual(target["outages"], [{"start": start, "end": end, "duration_seconds": seconds,
                                              "probes": 5, "open": False, "failures": [TIMED_OUT]}])

        done = subprocess.run([REPORT, "--format", "json", "--min-outage", "6"] + logs,
                              capture_output=True, timeout=60)
        self.assertEqual(json.loads(done.stdout)["targets"][0]["outages"], [])


if __name__ == "__main__":
    unittest.main()
