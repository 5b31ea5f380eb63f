"""--check and --format openmetrics on a log the monitor wrote: vesperix
probes a scripted host that answers four requests and then none, and the
check, the metrics and the report agree on what the log shows."""

import datetime
import glob
import json
import os
import subprocess
import unittest

import echohost
import netlab

from test_check import parse_status

REPORT = os.environ.get("VESPERIX_REPORT_BIN", "")

try:
    from prometheus_client.openmetrics.parser import text_string_to_metric_families
except ImportError:
    text_string_to_metric_families = None


def report(*args):
    return subprocess.run([REPORT] + list(args), capture_output=True, timeout=60)


class MonitorLog(netlab.NamespaceTest):
    def test_the_check_and_the_metrics_of_a_host_that_stops_answering(self):
        self.assertTrue(os.path.isfile(REPORT), "VESPERIX_REPORT_BIN names no program: %r" % REPORT)
        if text_string_to_metric_families is None:
            netlab.skip_or_fail(self, "needs python3-prometheus-client")
        run = echohost.ScriptedRun(self, "raw", {"flows": [{"steps": ["reply"] * 4, "then": "drop"}],
                                                 "requests": 9, "seconds": 60})
        run.lines(8, timeout=40)
        logs = sorted(glob.glob(os.path.join(run.monitor.cwd, "*.tsv")))
        summary = json.loads(report("--format", "json", *logs).stdout)
        (target,) = summary["targets"]
        (outage,) = target["outages"]
        self.assertTrue(outage["open"])
        self.assertGreaterEqual(outage["probes"], 4)

        done = report("--check", "-w", "900,20%", "-c", "950,60%", *logs)
        state, text, items = parse_status(self, done)
        self.assertEqual(state, "CRITICAL")
        start = outage["start"].replace("T", " ").replace("Z", " UTC")
        self.assertTrue(text.startswith("%s: outage open since %s, " % (echohost.HOST_ADDRESS, start)), text)
        self.assertEqual(float(items["pl"].group("value")), target["loss_percent"])
        trips = []
        for path in logs:
            with open(path, "rb") as log:
                trips += [int(line.split(b"\t")[2]) for line in log.read().split(b"\r\n")
                          if line.count(b"\t") == 3 and line.split(b"\t")[2] != b"-1"]
        self.assertEqual(len(trips), target["answered"])
        # The mean in thousandths of a millisecond, rounded half up.
        mean = (sum(trips) * 2000 + len(trips)) // (2 * len(trips))
        self.assertEqual(round(float(items["rta"].group("value")) * 1000), mean)

        # Up to the first failure the host answered every probe.
        before = datetime.datetime.fromisoformat(outage["start"][:-1]) - datetime.timedelta(seconds=1)
        done = report("--check", "-w", "900,20%", "-c", "950,60%", "--until", before.isoformat() + "Z", *logs)
        self.assertEqual(parse_status(self, done)[0], "OK")

        done = report("--format", "openmetrics", *logs)
        self.assertEqual((done.returncode, done.stderr), (0, b""))
        families = {f.name: f for f in text_string_to_metric_families(done.stdout.decode())}
        counts = {name: families[name].samples[0].value
                  for name in ("vesperix_probes", "vesperix_lost_probes", "vesperix_outages")}
        self.assertEqual(counts, {"vesperix_probes": target["probes"], "vesperix_lost_probes": target["lost"],
                                  "vesperix_outages": 1})
        self.assertEqual({s.labels["target"] for f in families.values() for s in f.samples}, {echohost.HOST_ADDRESS})
        rtt = families["vesperix_rtt_seconds"]
        self.assertEqual([s.value for s in rtt.samples if s.name.endswith("_count")], [target["answered"]])


if __name__ == "__main__":
    unittest.main()
