"""vesperix-report --format openmetrics: read back with a real OpenMetrics
parser (python3-prometheus-client's), its figures against the rows of the
logs, its names, units and metadata, the file -o replaces whole, and
node_exporter's textfile collector taking it in. Every build runs these
cases, a Windows one under Wine (see reportlab)."""

import collections
import json
import os
import resource
import shutil
import signal
import socket
import subprocess
import tempfile
import threading
import time
import unittest
import urllib.request

import netlab
import reportlab
from test_report import HERE, ReportTest, fixture

NODE_EXPORTER = "/usr/bin/prometheus-node-exporter"  # Debian's prometheus-node-exporter
BOUNDS_MS = [0, 1, 2, 5, 10, 20, 50, 100, 200, 500, 1000]
FAMILIES = {  # name: (type, unit)
    "vesperix_probes": ("counter", ""),
    "vesperix_lost_probes": ("counter", ""),
    "vesperix_outages": ("counter", ""),
    "vesperix_last_rtt_seconds": ("gauge", "seconds"),
    "vesperix_availability_ratio": ("gauge", "ratio"),
    "vesperix_rtt_seconds": ("histogram", "seconds"),
}

try:
    from prometheus_client.openmetrics.parser import text_string_to_metric_families
except ImportError:  # the test says so below
    text_string_to_metric_families = None


def report(*args, preexec_fn=None):
    return reportlab.run(args, cwd=HERE, preexec_fn=preexec_fn)


def log_rows(paths):
    """{target: [round trip in ms, or None for a lost probe]} in the order of the rows."""
    rows = {}
    for path in paths:
        with open(path, "rb") as log:
            for line in log.read().decode().split("\n"):
                fields = line.rstrip("\r").split("\t")
                if len(fields) == 4:
                    rows.setdefault(fields[1], []).append(None if fields[2] == "-1" else int(fields[2]))
    return rows


class OpenMetricsTest(ReportTest):
    def setUp(self):
        super().setUp()
        if text_string_to_metric_families is None:
            netlab.skip_or_fail(self, "needs python3-prometheus-client")
        self.folder = tempfile.mkdtemp(prefix="vesperix-metrics-")
        self.addCleanup(shutil.rmtree, self.folder, True)

    def metrics(self, *args):
        """{family name: family} of the report of `args`, parsed."""
        done = report("--format", "openmetrics", *args)
        self.assertEqual((done.returncode, done.stderr), (0, b""))
        text = done.stdout.decode()
        self.assertTrue(text.endswith("\n# EOF\n") or text == "# EOF\n", text[-40:])
        return {family.name: family for family in text_string_to_metric_families(text)}

    def values(self, family, sample):
        return {s.labels["target"]: s.value for s in family.samples if s.name == sample}


class Families(OpenMetricsTest):
    def test_each_figure_is_what_the_rows_say(self):
        for name in ("outages", "two-targets", "midnight", "clean"):
            with self.subTest(fixture=name):
                logs = fixture(name)
                rows = log_rows(logs)
                families = self.metrics(*logs)
                self.assertEqual({n: (f.type, f.unit) for n, f in families.items()}, FAMILIES)
                for family in families.values():
                    self.assertTrue(family.documentation.endswith("."), family.name)
                    self.assertTrue(all(s.labels.get("target") in rows for s in family.samples))
                summary = json.loads(report("--format", "json", *logs).stdout)
                self.assertEqual(self.values(families["vesperix_probes"], "vesperix_probes_total"),
                                 {t: len(r) for t, r in rows.items()})
                self.assertEqual(self.values(families["vesperix_lost_probes"], "vesperix_lost_probes_total"),
                                 {t: r.count(None) for t, r in rows.items()})
                self.assertEqual(self.values(families["vesperix_outages"], "vesperix_outages_total"),
                                 {t["target"]: len(t["outages"]) for t in summary["targets"]})
                self.assertEqual(self.values(families["vesperix_last_rtt_seconds"], "vesperix_last_rtt_seconds"),
                                 {t: [ms for ms in r if ms is not None][-1] / 1000 for t, r in rows.items()})
                availability = self.values(families["vesperix_availability_ratio"], "vesperix_availability_ratio")
                for target in summary["targets"]:
                    self.assertAlmostEqual(availability[target["target"]] * 100, target["availability_percent"],
                                           places=3)
                histogram = families["vesperix_rtt_seconds"]
                for target, trips in rows.items():
                    answered = [ms for ms in trips if ms is not None]
                    buckets = [(s.labels["le"], s.value) for s in histogram.samples
                               if s.name.endswith("_bucket") and s.labels["target"] == target]
                    self.assertEqual(buckets, [(repr(bound / 1000), sum(ms <= bound for ms in answered))
                                               for bound in BOUNDS_MS] + [("+Inf", len(answered))])
                    self.assertEqual(self.values(histogram, "vesperix_rtt_seconds_count")[target], len(answered))
                    self.assertAlmostEqual(self.values(histogram, "vesperix_rtt_seconds_sum")[target],
                                           sum(answered) / 1000, places=9)

    def test_what_cant_be_measured_is_nan(self):
        path = os.path.join(self.folder, "2026-12-01.tsv")
        with open(path, "w", newline="") as log:
            log.write("10:00:00\ta\t-1\tRequest timed-out.\r\n")
        families = self.metrics(path)
        for name in ("vesperix_last_rtt_seconds", "vesperix_availability_ratio"):
            (value,) = self.values(families[name], name).values()
            self.assertNotEqual(value, value)  # NaN
        histogram = families["vesperix_rtt_seconds"]
        self.assertEqual({s.value for s in histogram.samples}, {0})

    def test_no_rows_is_metadata_alone(self):
        families = self.metrics("--since", "2026-12-03", *fixture("outages"))
        self.assertEqual({n: (f.type, f.unit) for n, f in families.items()}, FAMILIES)
        self.assertEqual([s for f in families.values() for s in f.samples], [])

    def test_the_window_holds(self):
        families = self.metrics("--since", "2026-12-02T10:59:53Z", "--until", "2026-12-02T11:00:10Z", "-m", "2",
                                *fixture("outages"))
        target = "10.77.0.2"
        self.assertEqual([self.values(families[name], name + "_total")[target]
                          for name in ("vesperix_probes", "vesperix_lost_probes", "vesperix_outages")], [11, 7, 3])
        self.assertAlmostEqual(self.values(families["vesperix_availability_ratio"],
                                           "vesperix_availability_ratio")[target], 4 / 17)

    def test_a_target_of_any_bytes_is_a_label_value(self):
        # A quote and a backslash escaped; bytes that are no UTF-8 spelt out.
        targets = [b'a"b\\c', b"caf\xc3\xa9", b"x\xffy"]
        path = os.path.join(self.folder, "2026-12-01.tsv")
        with open(path, "wb") as log:
            log.write(b"".join(b"10:00:0%d\t%s\t3\t\r\n" % (s, t) for s in range(2) for t in targets))
        families = self.metrics(path)
        self.assertEqual(set(self.values(families["vesperix_probes"], "vesperix_probes_total")),
                         {'a"b\\c', "caf\u00e9", "x\\xFFy"})


# Wine has no status of its own for EFBIG: it tells the C runtime of a
# failure without a reason (STATUS_UNSUCCESSFUL), which that calls an
# invalid argument.
TOO_LARGE = "Invalid argument" if reportlab.WINDOWS else "File too large"


class OutputFile(OpenMetricsTest):
    def test_the_file_is_replaced_whole(self):
        path = os.path.join(self.folder, "vesperix.prom")
        with open(path, "w") as old:
            old.write("old\n")
        # Twice, the second time under the name its own platform gives it
        # (on drive Z: for Windows), with other logs: their text alone stays.
        for name, logs in ((path, fixture("outages")), (reportlab.native_path(path), fixture("two-targets"))):
            with self.subTest(name=name):
                before = os.stat(path).st_ino
                done = report("-f", "openmetrics", "-o", name, *logs)
                self.assertEqual((done.returncode, done.stdout, done.stderr), (0, b"", b""))
                with open(path, "rb") as written:
                    self.assertEqual(written.read(), report("-f", "openmetrics", *logs).stdout)
                self.assertNotEqual(os.stat(path).st_ino, before)  # a new file took its place
                self.assertEqual(os.listdir(self.folder), ["vesperix.prom"])
        # Any form may go to a file.
        text = os.path.join(self.folder, "report.txt")
        done = report("--output", text, *fixture("outages"))
        with open(text, "rb") as written:
            self.assertEqual(written.read(), report(*fixture("outages")).stdout)

    def test_a_file_that_cant_be_written_is_left_as_it_was(self):
        missing = os.path.join(self.folder, "missing", "vesperix.prom")
        done = report("-f", "openmetrics", "-o", missing, *fixture("outages"))
        self.assertEqual((done.returncode, done.stdout), (2, b""))
        self.assertTrue(done.stderr.decode().startswith("vesperix-report: %s: cannot write the report: " % missing))
        # A folder in its place can't be replaced; no temporary file stays.
        taken = os.path.join(self.folder, "taken.prom")
        os.makedirs(os.path.join(taken, "inside"))
        done = report("-f", "openmetrics", "-o", taken, *fixture("outages"))
        self.assertEqual(done.returncode, 2)
        self.assertIn("cannot write the report", done.stderr.decode())
        self.assertEqual(sorted(os.listdir(self.folder)), ["taken.prom"])
        self.assertEqual(os.listdir(taken), ["inside"])

    def test_a_write_that_fails_halfway_leaves_the_old_file_whole(self):
        # A limit of 1000 bytes a file, EFBIG past it, on the process that
        # becomes the program (Wine's loader for a Windows one).
        kept = os.path.join(self.folder, "kept.prom")
        with open(kept, "w") as old:
            old.write("old\n")

        def small_files():
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (1000, 1000))

        done = report("-f", "openmetrics", "-o", kept, *fixture("outages"), preexec_fn=small_files)
        self.assertEqual(done.returncode, 2)
        self.assertEqual(done.stderr.decode(), "vesperix-report: %s: cannot write the report: %s\n" % (kept, TOO_LARGE))
        with open(kept) as old:
            self.assertEqual(old.read(), "old\n")
        self.assertEqual(os.listdir(self.folder), ["kept.prom"])

    def test_a_reader_never_finds_part_of_one(self):
        # Logs large enough that writing the report takes many writes.
        logs = []
        for day in range(1, 4):
            path = os.path.join(self.folder, "2026-12-%02d.tsv" % day)
            with open(path, "w", newline="") as log:
                log.write("".join("%02d:%02d:%02d\t10.0.%d.%d\t%d\t\r\n" % (s // 3600, s // 60 % 60, s % 60,
                                                                        t // 250, t % 250, t % 900)
                                  for s in range(0, 3600, 60) for t in range(1000)))
            logs.append(path)
        target = os.path.join(self.folder, "out", "vesperix.prom")
        os.mkdir(os.path.dirname(target))
        self.assertEqual(report("-f", "openmetrics", "-o", target, *logs).returncode, 0)
        wanted = report("-f", "openmetrics", *logs).stdout
        self.assertGreater(len(wanted), 1 << 20)
        seen, stop = [], threading.Event()

        def read():
            # What each read found; a read that finds no file is a failure
            # too, and must not end the thread unseen.
            while not stop.is_set():
                try:
                    with open(target, "rb") as metrics:
                        seen.append("the whole text" if metrics.read() == wanted else "another text")
                except OSError as error:
                    seen.append(error.strerror)

        reader = threading.Thread(target=read)
        reader.start()
        try:
            for _ in range(15):
                self.assertEqual(report("-f", "openmetrics", "-o", target, *logs).returncode, 0)
        finally:
            stop.set()
            reader.join(30)
        self.assertGreater(len(seen), 15)
        self.assertEqual(collections.Counter(seen), {"the whole text": len(seen)})
        self.assertEqual(os.listdir(os.path.dirname(target)), ["vesperix.prom"])


class TextfileCollector(OpenMetricsTest):
    def test_node_exporter_takes_it_in(self):
        reportlab.linux_only(self, "node_exporter's textfile collector is a Linux service")
        if not os.path.isfile(NODE_EXPORTER):
            netlab.skip_or_fail(self, "needs prometheus-node-exporter")
        textfiles = os.path.join(self.folder, "textfiles")
        os.mkdir(textfiles)
        done = report("-f", "openmetrics", "-o", os.path.join(textfiles, "vesperix.prom"), *fixture("two-targets"))
        self.assertEqual(done.returncode, 0, done.stderr)
        with socket.socket() as probe:  # a free port on the loopback address
            probe.bind(("127.0.0.1", 0))
            port = probe.getsockname()[1]
        exporter = subprocess.Popen([NODE_EXPORTER, "--web.listen-address=127.0.0.1:%d" % port,
                                     "--collector.disable-defaults", "--collector.textfile",
                                     "--collector.textfile.directory=" + textfiles],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(exporter.wait, 10)
        self.addCleanup(exporter.kill)
        page, deadline = None, time.monotonic() + 20
        while page is None and time.monotonic() < deadline and exporter.poll() is None:
            try:
                with urllib.request.urlopen("http://127.0.0.1:%d/metrics" % port, timeout=5) as answer:
                    page = answer.read().decode()
            except OSError:
                time.sleep(0.2)
        self.assertIsNotNone(page, "node_exporter did not answer")
        from prometheus_client.parser import text_string_to_metric_families as prometheus_text
        samples = {(s.name, s.labels.get("target")): s.value for f in prometheus_text(page) for s in f.samples
                   if s.labels.get("le") in (None, "+Inf")}
        self.assertEqual(samples[("node_textfile_scrape_error", None)], 0)
        # Its collector reads the older Prometheus text format, in which a
        # counter's TYPE names its sample: the counters arrive untyped, with
        # their names and values.
        self.assertEqual(samples[("vesperix_probes_total", "10.0.0.2")], 4)
        self.assertEqual(samples[("vesperix_lost_probes_total", "10.0.0.2")], 3)
        self.assertEqual(samples[("vesperix_outages_total", "10.0.0.2")], 1)
        self.assertEqual(samples[("vesperix_last_rtt_seconds", "10.0.0.2")], 0.02)
        self.assertEqual(samples[("vesperix_availability_ratio", "10.0.0.1")], 1)
        self.assertEqual(samples[("vesperix_rtt_seconds_count", "10.0.0.1")], 5)
        self.assertEqual(samples[("vesperix_rtt_seconds_bucket", "10.0.0.1")], 5)  # +Inf


if __name__ == "__main__":
    unittest.main()
