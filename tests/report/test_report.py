"""vesperix-report on small fixture logs: the figures each fixture shows, the
exact text, CSV, JSON and SVG of one of them, the rows and files it can't
use, the forms of file names it takes, and its chart as an SVG renderer
draws it. Every build runs these cases, a Windows one under Wine (see
reportlab)."""

import json
import os
import shutil
import struct
import subprocess
import tempfile
import unittest
import xml.etree.ElementTree as ElementTree
import zlib

import netlab
import reportlab

REPORT = reportlab.REPORT
HERE = os.path.dirname(os.path.abspath(__file__))
TIMED_OUT = "Request timed-out."


def fixture(name):
    """The logs of fixture `name`, as paths relative to this folder."""
    folder = os.path.join("fixtures", name)
    return [os.path.join(folder, log) for log in sorted(os.listdir(os.path.join(HERE, folder)))]


def report(*args, stdout=subprocess.PIPE):
    return reportlab.run(args, cwd=HERE, stdout=stdout)


def report_json(test, *args):
    done = report("--format", "json", *args)
    test.assertEqual(done.returncode, 0, done.stderr)
    return json.loads(done.stdout)


def outage_rows(target):
    return [(o["start"], o["end"], o["duration_seconds"], o["probes"], o["open"], o["failures"])
            for o in target["outages"]]


def folder(test):
    path = tempfile.mkdtemp(prefix="vesperix-report-")
    test.addCleanup(shutil.rmtree, path, True)
    return path


class ReportTest(unittest.TestCase):
    def setUp(self):
        self.assertTrue(os.path.isfile(REPORT), "VESPERIX_REPORT_BIN names no program: %r" % REPORT)
        reportlab.skip_unless_available(self)


class Figures(ReportTest):
    def test_a_clean_day(self):
        (target,) = report_json(self, *fixture("clean"))["targets"]
        self.assertEqual((target["probes"], target["answered"], target["lost"], target["loss_percent"]),
                         (10, 10, 0, 0))
        self.assertEqual((target["observed_seconds"], target["down_seconds"],
                          target["availability_percent"]), (9, 0, 100))
        # 1 1 2 2 2 3 3 4 5 9: nearest rank, so the median is the 5th value.
        self.assertEqual(target["rtt_ms"], {"min": 1, "mean": 3.2, "median": 2, "p95": 9, "p99": 9,
                                            "max": 9, "mean_deviation": 1.68})
        self.assertEqual((target["failures"], target["outages"]), ([], []))
        self.assertEqual([(h["hour"], h["probes"], h["lost"], h["rtt_median_ms"]) for h in target["hours"]],
                         [("2026-12-01T09:00:00Z", 5, 0, 2), ("2026-12-01T10:00:00Z", 5, 0, 3)])

    def test_two_outages_one_still_open_at_the_end(self):
        (target,) = report_json(self, *fixture("outages"))["targets"]
        self.assertEqual(outage_rows(target), [
            ("2026-12-02T10:59:52Z", "2026-12-02T10:59:59Z", 7, 4, False,
             [TIMED_OUT, "Destination Unreachable: Host unreachable."]),
            ("2026-12-02T11:00:07Z", "2026-12-02T11:00:11Z", 4, 3, True, [TIMED_OUT])])
        self.assertEqual((target["down_seconds"], target["observed_seconds"],
                          target["availability_percent"], target["loss_percent"]), (11, 21, 47.619, 60))
        self.assertEqual([(f["text"], f["count"]) for f in target["failures"]],
                         [(TIMED_OUT, 7), ("Destination Unreachable: Host unreachable.", 1), ("11020", 1)])

    def test_the_outage_length_is_an_option(self):
        # The fixture's runs of failures are 4, 2 and 3 probes long.
        for least, starts in (("1", ["10:59:52", "11:00:01", "11:00:07"]),
                              ("2", ["10:59:52", "11:00:01", "11:00:07"]),
                              ("4", ["10:59:52"]),
                              ("5", [])):
            with self.subTest(least=least):
                summary = report_json(self, "--min-outage", least, *fixture("outages"))
                (target,) = summary["targets"]
                self.assertEqual([o["start"][11:19] for o in target["outages"]], starts)
                self.assertEqual(summary["min_outage_probes"], int(least))

    def test_rows_that_do_not_parse_are_skipped_counted_and_named(self):
        done = report("--format", "json", *fixture("malformed"))
        self.assertEqual(done.returncode, 0, done.stderr)
        path = fixture("malformed")[0]
        self.assertEqual(done.stderr.decode().splitlines(), [
            "vesperix-report: %s:%d: skipped: %s" % (path, line, why) for line, why in (
                (2, "not four tab-separated fields"),
                (3, "no time of day (hh:mm:ss)"),
                (4, "no round-trip time (milliseconds, or -1)"),
                (5, "the round-trip time and the detail disagree"),
                (7, "not four tab-separated fields"),
                (8, "no time of day (hh:mm:ss)"),
                (10, "a control character inside a field"),
                (12, "no round-trip time (milliseconds, or -1)"),
                (13, "a partial last line, without its line end"))])
        summary = json.loads(done.stdout)
        self.assertEqual([(f["rows"], f["skipped_rows"]) for f in summary["files"]], [(4, 9)])
        (target,) = summary["targets"]
        # Rows 1, 6 and 11 (its line end a bare line feed) answered; row 9 failed.
        self.assertEqual((target["probes"], target["answered"], target["rtt_ms"]["max"]), (4, 3, 7))

    def test_two_targets_in_one_file_are_apart(self):
        first, second = report_json(self, *fixture("two-targets"))["targets"]
        self.assertEqual((first["target"], first["probes"], first["lost"], first["outages"]),
                         ("10.0.0.1", 6, 1, []))
        self.assertEqual((second["target"], second["probes"], second["lost"]), ("10.0.0.2", 4, 3))
        self.assertEqual(outage_rows(second), [
            ("2026-12-04T12:00:00Z", "2026-12-04T12:00:06Z", 6, 3, False, [TIMED_OUT])])

    def test_an_outage_across_midnight_is_one_whatever_the_order_of_the_files(self):
        logs = fixture("midnight")
        forwards = report_json(self, *logs)
        self.assertEqual(report_json(self, *reversed(logs)), forwards)
        (target,) = forwards["targets"]
        self.assertEqual(outage_rows(target), [
            ("2026-12-05T23:59:52Z", "2026-12-06T00:00:04Z", 12, 6, False, [TIMED_OUT])])
        self.assertEqual([(h["hour"], h["probes"]) for h in target["hours"]],
                         [("2026-12-05T23:00:00Z", 6), ("2026-12-06T00:00:00Z", 4)])
        self.assertEqual((target["observed_seconds"], target["gaps"]), (15, 0))

    def test_no_outage_spans_a_break_in_the_log(self):
        # The monitor stopped while the host failed, and ran again 30 minutes
        # later: nobody saw when the host came back.
        (target,) = report_json(self, *fixture("gap"))["targets"]
        self.assertEqual(outage_rows(target), [
            ("2026-12-07T09:00:01Z", "2026-12-07T09:00:05Z", 4, 3, True, [TIMED_OUT])])
        self.assertEqual((target["gaps"], target["observed_seconds"], target["down_seconds"]), (1, 6, 4))


class LongRows(ReportTest):
    def test_the_longest_row_of_any_monitor_is_a_row_for_every_build(self):
        # Linux passes the longest arguments, 32 pages less the terminating
        # zero, and a row is at most 256 bytes more than its target: a log
        # reads the same wherever the report runs. A byte more is no row.
        longest = 32 * 4096 - 1 + 256
        frame = "10:00:0%d\t%s\t3\t\r"
        log = os.path.join(folder(self), "2026-12-10.tsv")
        with open(log, "w", newline="") as out:
            for second, length in ((1, longest), (2, longest + 1)):
                out.write(frame % (second, "x" * (length - len(frame % (second, "")))) + "\n")
        done = report("--format", "json", log)
        self.assertEqual(done.returncode, 0)
        self.assertEqual(done.stderr.decode(), "vesperix-report: %s:2: skipped: longer than any row\n" % log)
        self.assertEqual([(f["rows"], f["skipped_rows"]) for f in json.loads(done.stdout)["files"]], [(1, 1)])


class ExactOutput(ReportTest):
    def test_text_csv_and_json_of_the_outages_fixture(self):
        for form, expected in (("text", "outages.txt"), ("csv", "outages.csv"), ("json", "outages.json")):
            with self.subTest(form=form):
                done = report("--format", form, *fixture("outages"))
                self.assertEqual((done.returncode, done.stderr), (0, b""))
                with open(os.path.join(HERE, "expected", expected), "rb") as wanted:
                    self.assertEqual(done.stdout.decode(), wanted.read().decode())

    def test_the_chart_is_the_same_bytes_on_every_platform(self):
        # A file of its own, written in binary: LF alone on Windows too.
        chart = os.path.join(folder(self), "chart.svg")
        done = report("--svg", chart, *fixture("outages"))
        self.assertEqual((done.returncode, done.stderr), (0, b""))
        with open(chart, "rb") as written, open(os.path.join(HERE, "expected", "outages.svg"), "rb") as wanted:
            self.assertEqual(written.read(), wanted.read())


# Windows opens no folder as a file: its C runtime says that access is denied.
A_FOLDER = "Permission denied" if reportlab.WINDOWS else "Is a directory"


class Failures(ReportTest):
    def test_command_lines_that_make_no_sense(self):
        for args, problem in (([], "no daily log named"),
                              (["--format", "xml"] + fixture("clean"), "--format takes text, csv or json"),
                              (["--min-outage", "0"] + fixture("clean"), "--min-outage takes"),
                              (["--min-outage"], "--min-outage takes"),
                              (["--svg"], "--svg takes"),
                              (["--colour"] + fixture("clean"), "unknown option --colour")):
            with self.subTest(args=args):
                done = report(*args)
                self.assertEqual((done.returncode, done.stdout), (1, b""))
                self.assertIn("vesperix-report: " + problem, done.stderr.decode())
                self.assertTrue(done.stderr.decode().endswith("FILE...\n"))

    def test_a_file_that_cannot_be_read_is_named_and_no_report_is_written(self):
        scratch = folder(self)
        os.mkdir(os.path.join(scratch, "2026-12-09.tsv"))
        for path, why in ((os.path.join(scratch, "2026-12-08.tsv"), "cannot read it: No such file or directory"),
                          (os.path.join(scratch, "2026-12-09.tsv"), "cannot read it: " + A_FOLDER),
                          ("notes.tsv", "not a daily log: its name is no date (YYYY-MM-DD.tsv)")):
            with self.subTest(path=path):
                done = report(*fixture("clean"), path)
                self.assertEqual((done.returncode, done.stdout), (2, b""))
                self.assertEqual(done.stderr.decode(), "vesperix-report: %s: %s\n" % (path, why))

    def test_output_that_cannot_be_written_is_a_failure(self):
        chart = os.path.join(folder(self), "missing", "chart.svg")
        done = report("--svg", chart, *fixture("clean"))
        self.assertEqual((done.returncode, done.stdout), (2, b""))
        self.assertIn("vesperix-report: %s: cannot write the chart" % chart, done.stderr.decode())
        with open("/dev/full", "wb") as full:
            done = report(*fixture("clean"), stdout=full)
        self.assertEqual(done.returncode, 2)
        self.assertIn("cannot write the report: No space left on device", done.stderr.decode())


class FileNames(ReportTest):
    def test_each_form_of_path_the_platform_knows(self):
        # Each argument, with the logs a Linux and a Windows build read for
        # it, or None when they take it for no daily log's name. On Linux a
        # backslash is part of a name, and a wildcard that no shell expanded
        # is one too; Windows knows both slashes and drives, and its C
        # runtime expands the wildcards that its shells leave alone.
        log = os.path.join("fixtures", "outages", "2026-12-02.tsv")
        windows = log.replace("/", "\\")
        absolute = reportlab.windows_path(os.path.join(HERE, log))  # Z:\...
        midnight = ["fixtures\\midnight\\2026-12-05.tsv", "fixtures\\midnight\\2026-12-06.tsv"]
        for argument, on_linux, on_windows in (
                (log, [log], [log]),
                (windows, None, [windows]),
                (absolute, None, [absolute]),
                ("z" + absolute[1:], None, ["z" + absolute[1:]]),
                ("\\\\?\\" + absolute, None, ["\\\\?\\" + absolute]),
                (absolute[2:], None, [absolute[2:]]),  # the current drive
                ("Z:" + windows, None, ["Z:" + windows]),  # its current folder
                ("fixtures\\midnight\\*.tsv", None, midnight),
                ("fixtures/outages/2026-12-0?.tsv", None, [log]),
                ("fixtures\\outages\\*.csv", None, None)):  # matching no file, it stays
            with self.subTest(argument=argument):
                expected = on_windows if reportlab.WINDOWS else on_linux
                done = report("--format", "json", argument)
                if expected is None:
                    self.assertEqual((done.returncode, done.stdout), (2, b""))
                    self.assertEqual(done.stderr.decode(), "vesperix-report: %s: not a daily log: its "
                                                           "name is no date (YYYY-MM-DD.tsv)\n" % argument)
                else:
                    self.assertEqual((done.returncode, done.stderr), (0, b""))
                    self.assertEqual([f["file"] for f in json.loads(done.stdout)["files"]], expected)


# Where each build installs the monitor and the report, and the report's
# manual page where it has one: a Windows release is one folder, its zip's.
INSTALLED = {False: (os.path.join("bin", "vesperix"), os.path.join("bin", "vesperix-report"),
                     os.path.join("share", "man", "man1", "vesperix-report.1")),
             True: ("vesperix.exe", "vesperix-report.exe", None)}


class Installed(ReportTest):
    def test_the_report_is_installed_beside_the_monitor_with_its_manual_page_where_it_has_one(self):
        prefix = folder(self)
        subprocess.run(["cmake", "--install", os.environ["VESPERIX_BUILD_DIR"], "--prefix", prefix],
                       check=True, capture_output=True, timeout=120)
        monitor, program, manual = INSTALLED[reportlab.WINDOWS]
        self.assertTrue(os.path.isfile(os.path.join(prefix, monitor)), os.listdir(prefix))
        done = reportlab.run(["--version"], program=os.path.join(prefix, program))
        self.assertEqual((done.returncode, done.stderr), (0, b""))
        self.assertRegex(done.stdout.decode(), r"^vesperix-report \d+\.\d+\.\d+\n$")
        if manual is None:
            return
        page = subprocess.run(["man", "--warnings", "-l", os.path.join(prefix, manual)],
                              capture_output=True, text=True, timeout=60, env=dict(os.environ, MANWIDTH="80"))
        self.assertEqual(page.stderr, "")
        for heading in ("SYNOPSIS", "OPTIONS", "FIGURES", "OUTPUT", "CHART", "EXIT STATUS"):
            self.assertIn(heading, page.stdout)


def png_pixels(path):
    """(width, height, rows of (r, g, b) tuples) of an 8-bit RGB or RGBA PNG."""
    with open(path, "rb") as image:
        data = image.read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    at, compressed = 8, b""
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        at += 12 + length
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            assert depth == 8 and colour in (2, 6) and interlace == 0, (depth, colour, interlace)
        elif kind == b"IDAT":
            compressed += body
    channels = 3 if colour == 2 else 4
    raw, stride, rows = zlib.decompress(compressed), width * channels, []
    previous = bytearray(stride)
    for y in range(height):
        start = y * (stride + 1)
        kind, line = raw[start], bytearray(raw[start + 1:start + 1 + stride])
        for i in range(stride):
            left = line[i - channels] if i >= channels else 0
            up, corner = previous[i], previous[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + left) & 255
            elif kind == 2:
                line[i] = (line[i] + up) & 255
            elif kind == 3:
                line[i] = (line[i] + (left + up) // 2) & 255
            elif kind == 4:
                guess = left + up - corner
                near = min((abs(guess - left), 0, left), (abs(guess - up), 1, up),
                           (abs(guess - corner), 2, corner))[2]
                line[i] = (line[i] + near) & 255
        rows.append([tuple(line[x * channels:x * channels + 3]) for x in range(width)])
        previous = line
    return width, height, rows


class Chart(ReportTest):
    def test_the_chart_renders_with_its_marks_where_the_svg_puts_them(self):
        rsvg = shutil.which("rsvg-convert")
        if rsvg is None:
            netlab.skip_or_fail(self, "needs rsvg-convert (librsvg2-bin)")
        scratch = folder(self)
        chart, picture = os.path.join(scratch, "chart.svg"), os.path.join(scratch, "chart.png")
        done = report("--svg", chart, *fixture("two-targets"))
        self.assertEqual((done.returncode, done.stderr), (0, b""))
        self.assertIn(b"10.0.0.2", done.stdout)  # the report is written all the same
        svg = ElementTree.parse(chart).getroot()
        subprocess.run([rsvg, "-o", picture, chart], check=True, timeout=60)
        width, height, rows = png_pixels(picture)
        self.assertEqual((width, height), (int(svg.get("width")), int(svg.get("height"))))

        def middle(rect):
            return rows[int(float(rect.get("y")) + float(rect.get("height")) / 2)][
                int(float(rect.get("x")) + float(rect.get("width")) / 2)]

        marks, shades = [], []
        for rect in svg.findall("{http://www.w3.org/2000/svg}rect"):  # the key is a group of its own
            if rect.get("fill") == "#d62728" and rect.get("stroke") is None:
                (shades if rect.get("fill-opacity") else marks).append(rect)
        # One failure of 10.0.0.1 and a run of three of 10.0.0.2, a second
        # apart at most, fall in one column each at this scale; one outage.
        self.assertEqual((len(marks), len(shades)), (2, 1))
        for mark in marks:
            pixel = middle(mark)
            self.assertTrue(all(abs(a - b) <= 3 for a, b in zip(pixel, (214, 39, 40))), pixel)
        red, green, blue = middle(shades[0])
        self.assertTrue(red > 240 and 200 < green < 235 and 200 < blue < 235, (red, green, blue))
        drawn = sum(1 for row in rows for pixel in row if pixel != (255, 255, 255))
        self.assertGreater(drawn, width * height // 50)


if __name__ == "__main__":
    unittest.main()
