"""vesperix-report's command line: each form an option may take, what is
refused and how it is said, and that the usage line, --help and the manual
page name the options the program accepts."""

import json
import os
import re
import shutil
import subprocess
import unittest

import reportlab
from test_report import ReportTest as OptionsTest, folder

HERE = os.path.dirname(os.path.abspath(__file__))
MANUAL = os.path.join(os.environ.get("VESPERIX_SOURCE_DIR", os.path.join(HERE, "..", "..")),
                      "docs", "vesperix-report.1")
LOG = os.path.join("fixtures", "outages", "2026-12-02.tsv")  # runs of 4, 2 and 3 failures
USAGE = ("Usage: vesperix-report [-f text|csv|json|openmetrics] [-m N] [-s TIME] [-u TIME] [-o FILE]\n"
         "                       [--svg FILE] [--] FILE...\n"
         "       vesperix-report --check [-w RTA,PL%] [-c RTA,PL%] [-m N] [-s TIME] [-u TIME] [--] FILE...\n")
FORMAT = "--format takes text, csv or json, or openmetrics"


def report(*args, cwd=HERE):
    return reportlab.run(args, cwd=cwd)


def outcome(stdout):
    """(form, fewest probes of an outage) that a report's output shows."""
    text = stdout.decode()
    if text.startswith("{"):
        return "json", json.loads(text)["min_outage_probes"]
    if text.startswith("file,date,rows,skipped_rows\n"):
        outages = text.split("\ntarget,start,end,duration_seconds,probes,open,failures\n")[1]
        return "csv", len(outages.split("\n\n")[0].splitlines())
    least = re.search(r"outages? of at least (\d+) failed probe", text)
    return "text", int(least.group(1))


class Accepted(OptionsTest):
    def test_every_form_of_each_option(self):
        # For CSV the second figure is how many outages it lists: 2 of at
        # least 3 failed probes, 3 of at least 2.
        for args, expected in (
                ([], ("text", 3)),
                (["--format=json"], ("json", 3)),
                (["--format", "json"], ("json", 3)),
                (["--form=json"], ("json", 3)),
                (["--f", "json"], ("json", 3)),
                (["-f", "json"], ("json", 3)),
                (["-fjson"], ("json", 3)),
                (["-f", "csv"], ("csv", 2)),
                (["-fcsv", "-m2"], ("csv", 3)),
                (["-fjson", "--format=text"], ("text", 3)),  # the last one counts
                (["--min-outage=5", "-fjson"], ("json", 5)),
                (["--min-outage", "5", "-f", "json"], ("json", 5)),
                (["--min=5", "-fjson"], ("json", 5)),
                (["--m", "5", "-fjson"], ("json", 5)),
                (["-m5", "-fjson"], ("json", 5)),
                (["-m", "5"], ("text", 5)),
                (["-m", "2", "-f", "csv", "--"], ("csv", 3))):
            for where in ("before", "after"):
                with self.subTest(args=args, files=where):
                    done = report(*(args + [LOG] if where == "before" else [LOG] + args))
                    if where == "after" and args[-1:] == ["--"]:
                        # "--" ends the options: a file is all that may follow.
                        done = report(*(args[:-1] + ["--", LOG]))
                    self.assertEqual((done.returncode, done.stderr), (0, b""))
                    self.assertEqual(outcome(done.stdout), expected)

    def test_every_form_of_the_chart_option(self):
        scratch = folder(self)
        for args in (["--svg=%s"], ["--svg", "%s"], ["--sv", "%s"]):
            with self.subTest(args=args):
                chart = os.path.join(scratch, "chart-%d.svg" % len(os.listdir(scratch)))
                done = report(*([arg.replace("%s", chart) for arg in args] + [LOG]))
                self.assertEqual((done.returncode, done.stderr), (0, b""))
                with open(chart, "rb") as picture:
                    self.assertTrue(picture.read().startswith(b"<?xml"))

    def test_help_and_version_in_each_form(self):
        for args, starts in ((["-h"], "Usage: "), (["--help"], "Usage: "), (["--he"], "Usage: "),
                             (["-V"], "vesperix-report "), (["--version"], "vesperix-report "),
                             (["--vers"], "vesperix-report "), (["-hV"], "Usage: "),
                             ([LOG, "--help"], "Usage: ")):
            with self.subTest(args=args):
                done = report(*args)
                self.assertEqual((done.returncode, done.stderr), (0, b""))
                self.assertTrue(done.stdout.decode().startswith(starts), done.stdout)

    def test_a_double_dash_ends_the_options(self):
        scratch = folder(self)
        os.mkdir(os.path.join(scratch, "-logs"))
        shutil.copy(os.path.join(HERE, LOG), os.path.join(scratch, "-logs"))
        log = os.path.join("-logs", os.path.basename(LOG))
        done = report("--", log, cwd=scratch)
        self.assertEqual((done.returncode, done.stderr), (0, b""))
        self.assertTrue(done.stdout.startswith(b"1 daily log, 2026-12-02: 15 rows"))
        done = report("-fjson", "--", "-fcsv", cwd=scratch)  # a file, not an option
        self.assertEqual(done.returncode, 2)
        self.assertEqual(done.stderr.decode(), "vesperix-report: -fcsv: not a daily log: its name is "
                                               "no date (YYYY-MM-DD.tsv)\n")
        done = report(log, cwd=scratch)  # without "--" it is options
        self.assertEqual((done.returncode, done.stderr.decode()),
                         (1, "vesperix-report: unknown option -l\n" + USAGE))


class Refused(OptionsTest):
    def test_one_line_says_what_is_wrong_and_the_usage_follows(self):
        outage = "--min-outage takes a number of probes from 1 to 1000000000"
        for args, problem in ((["--colour"], "unknown option --colour"),
                              (["--colour=red"], "unknown option --colour"),
                              (["---format=json"], "unknown option ---format"),
                              (["-x"], "unknown option -x"),
                              (["-hx"], "unknown option -x"),
                              (["-f"], FORMAT),
                              (["--format"], FORMAT),
                              (["--format="], FORMAT),
                              (["--form=xml"], FORMAT),
                              (["-fxml"], FORMAT),
                              (["-f", "JSON"], FORMAT),
                              (["-m"], outage),
                              (["--min-outage"], outage),
                              (["--min=0"], outage),
                              (["-m", "x"], outage),
                              (["-m1000000001"], outage),
                              (["--svg"], "--svg takes the name of the file to write"),
                              (["--svg="], "--svg takes the name of the file to write"),
                              (["--help=yes"], "--help takes no value"),
                              (["--vers=1"], "--version takes no value")):
            with self.subTest(args=args):
                # A value that is missing is missing at the end, where a file
                # would otherwise be taken for it.
                done = report(*([LOG] + args))
                self.assertEqual((done.returncode, done.stdout), (1, b""))
                self.assertEqual(done.stderr.decode(), "vesperix-report: %s\n%s" % (problem, USAGE))

    def test_the_first_problem_is_the_one_told(self):
        done = report("--colour", "-f", "xml", LOG)
        self.assertEqual(done.stderr.decode(), "vesperix-report: unknown option --colour\n" + USAGE)
        done = report("-f", "xml", "--colour", LOG)
        self.assertEqual(done.stderr.decode(), "vesperix-report: %s\n%s" % (FORMAT, USAGE))


def option_names(text):
    """The option names (-f, --format, ...) that `text` shows."""
    return set(re.findall(r"(?<![\w-])(--?[A-Za-z][\w-]*)", text))


class Documented(OptionsTest):
    def test_usage_help_and_manual_name_what_is_accepted(self):
        helped = report("--help").stdout.decode()
        usage, listing = helped.split("\n\n")[0], helped.split("\n\n")[2]
        self.assertEqual(usage + "\n", USAGE)
        page = subprocess.run(["man", "--warnings", "-l", MANUAL], capture_output=True, text=True,
                              timeout=60, env=dict(os.environ, MANWIDTH="200"))
        self.assertEqual(page.stderr, "")
        synopsis = page.stdout.split("SYNOPSIS")[1].split("DESCRIPTION")[0]
        options = page.stdout.split("\nOPTIONS\n")[1].split("\n\n")
        headings = "\n".join(item.splitlines()[0] for item in options if re.match(r"\s+-", item))
        self.assertEqual(option_names(headings), option_names(listing))
        self.assertEqual(option_names(synopsis), option_names(usage) | {"-h", "--help", "-V", "--version"})
        self.assertLessEqual(option_names(usage) - {"--"}, option_names(listing))
        scratch = folder(self)
        # What each option is run with; the log's last outage is open, so a
        # check of it is CRITICAL.
        check = ["--check", "--until", "2026-12-02T11:00:07Z"]
        values = {"-f": ["json"], "--format": ["json"], "-m": ["2"], "--min-outage": ["2"],
                  "-s": ["2026-12-02"], "--since": ["2026-12-02"], "-u": ["1d"], "--until": ["1d"],
                  "--now": ["2026-12-02T12:00:00Z"], "-o": [os.path.join(scratch, "report.txt")],
                  "--output": [os.path.join(scratch, "report.txt")],
                  "--svg": [os.path.join(scratch, "chart.svg")], "--check": check[1:],
                  "-w": ["100,80%"] + check, "--warning": ["100,80%"] + check,
                  "-c": ["100,80%"] + check, "--critical": ["100,80%"] + check}
        for name in sorted(option_names(listing)):
            with self.subTest(option=name):
                done = report(*([name] + values.get(name, []) + [LOG]))
                self.assertEqual((done.returncode, done.stderr), (0, b""))


if __name__ == "__main__":
    unittest.main()
